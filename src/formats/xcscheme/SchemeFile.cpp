#include "formats/xcscheme/SchemeFile.h"

#include <algorithm>
#include <cstring>
#include <pugixml.hpp>

namespace quillon::formats::xcscheme {

namespace {

std::uint32_t lineAt(std::string_view text, std::ptrdiff_t offset, std::size_t& cursor,
                     std::uint32_t& line) {
    const auto target = static_cast<std::size_t>(std::max<std::ptrdiff_t>(offset, 0));
    if (target < cursor) {
        cursor = 0;
        line = 1;
    }
    const std::size_t end = std::min(target, text.size());
    line += static_cast<std::uint32_t>(
        std::count(text.begin() + static_cast<std::ptrdiff_t>(cursor),
                   text.begin() + static_cast<std::ptrdiff_t>(end), '\n'));
    cursor = end;
    return line;
}

std::string stageOf(pugi::xml_node action) {
    const pugi::xml_node list = action.parent().parent();  // ExecutionAction < PreActions < X
    const pugi::xml_node owner = list.parent();
    std::string stage = owner ? owner.name() : "";
    if (std::strcmp(list.name(), "PreActions") == 0) {
        stage += " pre-action";
    } else if (std::strcmp(list.name(), "PostActions") == 0) {
        stage += " post-action";
    }
    return stage;
}

}  // namespace

SchemeFile parseScheme(std::string_view text) {
    SchemeFile file;
    pugi::xml_document document;
    const pugi::xml_parse_result result =
        document.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_auto);
    if (!result) {
        file.error = result.description();
    }
    std::size_t cursor = 0;
    std::uint32_t line = 1;
    // Depth first without recursion: an attacker's document may nest without limit.
    pugi::xml_node node = document.first_child();
    while (node) {
        if (node.type() == pugi::node_element && std::strcmp(node.name(), "ActionContent") == 0) {
            const pugi::xml_attribute script = node.attribute("scriptText");
            if (script) {
                SchemeScript entry;
                entry.title = node.attribute("title").value();
                entry.shell = node.attribute("shellToRun").value();
                entry.script = script.value();
                entry.stage = stageOf(node);
                entry.line = lineAt(text, node.offset_debug(), cursor, line);
                file.scripts.push_back(std::move(entry));
            }
        }
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node && !node.next_sibling()) {
            node = node.parent();
        }
        if (node) {
            node = node.next_sibling();
        }
    }
    return file;
}

}  // namespace quillon::formats::xcscheme
