#include "platform/RelativeDate.h"

#include <unicode/locid.h>
#include <unicode/reldatefmt.h>

#include <cmath>
#include <memory>

namespace quillon::platform {

std::string relativePhrase(std::chrono::system_clock::time_point date,
                           std::chrono::system_clock::time_point now) {
    const double seconds = std::chrono::duration<double>(date - now).count();
    const double magnitude = std::fabs(seconds);
    struct Unit {
        double seconds;
        URelativeDateTimeUnit unit;
    };
    static constexpr Unit kUnits[] = {
        {365.0 * 86400, UDAT_REL_UNIT_YEAR}, {30.0 * 86400, UDAT_REL_UNIT_MONTH},
        {7.0 * 86400, UDAT_REL_UNIT_WEEK},   {86400, UDAT_REL_UNIT_DAY},
        {3600, UDAT_REL_UNIT_HOUR},          {60, UDAT_REL_UNIT_MINUTE},
    };
    URelativeDateTimeUnit unit = UDAT_REL_UNIT_SECOND;
    double count = std::trunc(magnitude);
    for (const Unit& candidate : kUnits) {
        if (magnitude >= candidate.seconds) {
            unit = candidate.unit;
            count = std::trunc(magnitude / candidate.seconds);
            break;
        }
    }
    // A date a moment ago reads "0 seconds ago", never "in 0 seconds".
    const double offset = seconds > 0 && count > 0 ? count : -count;

    UErrorCode status = U_ZERO_ERROR;
    icu::RelativeDateTimeFormatter formatter(icu::Locale::getDefault(), nullptr, UDAT_STYLE_LONG,
                                             UDISPCTX_CAPITALIZATION_NONE, status);
    if (U_FAILURE(status)) {
        return {};
    }
    icu::UnicodeString text;
    formatter.formatNumeric(offset, unit, text, status);
    if (U_FAILURE(status)) {
        return {};
    }
    std::string out;
    text.toUTF8String(out);
    return out;
}

}  // namespace quillon::platform
