// The shell reader and evaluator on any script: no crash, no hang past the budgets, and every
// budget that ran out reported.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "analysis/shell/ShellEvaluator.h"
#include "analysis/shell/ShellParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quillon::analysis::shell;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)ShellParser::parse(text);
    Limits limits;
    limits.steps = 4000;
    limits.bytes = 1u << 20;
    limits.valueBytes = 64u << 10;
    Environment environment;
    Value setting;
    setting.text = "echo 6563686f206869 | xxd -p -r | sh";
    setting.taint = kSetting;
    setting.setting = "QX";
    environment["QX"] = setting;
    const Trace trace = ShellEvaluator::evaluate(text, environment, limits);
    if (trace.stepsUsed > limits.steps + 1) {
        std::abort();
    }
    return 0;
}
