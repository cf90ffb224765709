#include "qvxml/internal/report.h"

#include <algorithm>
#include <climits>
#include <cstring>

xml_report refused_report(int status, int error)
{
    return {.size = sizeof(xml_report),
            .status = status,
            .open_elements = 0,
            .error_number = error,
            .zero_byte = 0,
            .line = 0,
            .element_line = 0,
            .root = nullptr};
}

void fill_report(xml_report *report, const xml_report &ended)
{
    if (!report) return;
    constexpr std::size_t head = sizeof ended.size;
    const std::size_t n = std::min(report->size, sizeof ended);
    if (n > head)
        std::memcpy(reinterpret_cast<char *>(report) + head,
                    reinterpret_cast<const char *>(&ended) + head, n - head);
}

int saturated(std::int64_t n)
{
    return static_cast<int>(std::min<std::int64_t>(n, INT_MAX));
}

xml_outcome outcome_of(const xml_report &ended)
{
    return {.status = ended.status,
            .line = saturated(ended.line),
            .open_elements = ended.open_elements,
            .error_number = ended.error_number,
            .zero_byte = ended.zero_byte,
            .element_line = 0};
}
