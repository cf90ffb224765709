#include "veltran/diagnostics.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace
{

constexpr std::string_view cut_mark = "...";

const char *plural(long n, const char *one, const char *many)
{
    return n == 1 ? one : many;
}

// "PATH" or "PATH:LINE", as tools of this kind name a place in a file.
struct place {
    const char *path;
    std::int64_t line; // the whole count, however long the input
};

void print_at(place at, const char *format, ...) __attribute__((format(printf, 2, 3)));

void print_at(place at, const char *format, ...)
{
    if (at.line > 0)
        std::fprintf(stderr, "veltran: %s:%lld: ", at.path, static_cast<long long>(at.line));
    else
        std::fprintf(stderr, "veltran: %s: ", at.path);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

// The cause of a failure in the words of its message, without the place.
void describe(char *text, std::size_t capacity, const load_failure &f, const char *spill_folder)
{
    switch (f.cause) {
    case failure_cause::none:
    case failure_cause::no_element:
        std::snprintf(text, capacity, "no element%s",
                      f.zero_byte ? " (a zero byte ended the input)" : "");
        return;
    case failure_cause::cannot_open:
    case failure_cause::read_error:
        std::snprintf(text, capacity, "%s", std::strerror(f.error_number));
        return;
    case failure_cause::syntax:
        std::snprintf(text, capacity, "syntax error");
        return;
    case failure_cause::unclosed:
        std::snprintf(text, capacity, "end of input with %d %s still open%s", f.open_elements,
                      plural(f.open_elements, "element", "elements"),
                      f.zero_byte ? " (a zero byte ended the input)" : "");
        return;
    case failure_cause::word_too_long:
        std::snprintf(text, capacity, "word longer than %d characters", xml_max_token);
        return;
    case failure_cause::no_memory:
        std::snprintf(text, capacity, "out of memory");
        return;
    case failure_cause::cannot_hold:
        if (f.error_number == ENOMEM)
            std::snprintf(text, capacity, "out of memory");
        else
            std::snprintf(text, capacity, "cannot hold the records: %s: %s", spill_folder,
                          std::strerror(f.error_number));
        return;
    case failure_cause::stopped:
        std::snprintf(text, capacity, "load stopped with status %d", f.status);
        return;
    }
}

// Whether the cause comes with the line the reader stopped on.
bool has_line(failure_cause cause)
{
    return cause == failure_cause::syntax || cause == failure_cause::unclosed ||
           cause == failure_cause::word_too_long || cause == failure_cause::stopped;
}

constexpr std::size_t cause_capacity = 512;

} // namespace

load_failure failure_of(const xml_report &ended)
{
    load_failure f;
    f.line = ended.line;
    f.error_number = ended.error_number;
    f.open_elements = ended.open_elements;
    f.status = ended.status;
    f.zero_byte = ended.zero_byte != 0;
    switch (ended.status) {
    case status_ok:
        f.cause = ended.error_number != 0 ? failure_cause::read_error : failure_cause::none;
        break;
    case status_cannot_open:
        f.cause =
            ended.error_number == ENOMEM ? failure_cause::no_memory : failure_cause::cannot_open;
        break;
    case status_no_memory:
        f.cause = failure_cause::no_memory;
        break;
    case status_syntax:
        f.cause = failure_cause::syntax;
        break;
    case status_unclosed:
        f.cause = failure_cause::unclosed;
        break;
    case status_token_too_long:
        f.cause = failure_cause::word_too_long;
        break;
    default:
        f.cause = failure_cause::stopped;
        break;
    }
    return f;
}

void findings::note(warning_kind kind, std::int64_t line, std::string_view instance)
{
    warning_note &n = notes_[index(kind)];
    if (n.count++ > 0) return;
    n.line = line;
    const std::size_t room = n.instance.size() - 1;
    if (instance.size() > room) {
        instance = instance.substr(0, room - cut_mark.size());
        std::memcpy(n.instance.data() + instance.size(), cut_mark.data(), cut_mark.size());
        n.instance[instance.size() + cut_mark.size()] = '\0';
    } else {
        n.instance[instance.size()] = '\0';
    }
    // control characters of the input must not reach the terminal
    for (std::size_t i = 0; i < instance.size(); ++i) {
        const auto c = static_cast<unsigned char>(instance[i]);
        n.instance[i] = c < ' ' || c == 0x7f ? '?' : char(c);
    }
}

void findings::merge(const findings &other)
{
    for (std::size_t k = 0; k < notes_.size(); ++k)
        if (notes_[k].count == 0) notes_[k] = other.notes_[k];
}

void print_failure(const char *path, const load_failure &failure, const char *spill_folder)
{
    char cause[cause_capacity];
    describe(cause, sizeof cause, failure, spill_folder);
    print_at({path, has_line(failure.cause) ? failure.line : 0}, "%s", cause);
}

void print_warnings(const char *path, const findings &found, const listing_names &names,
                    const load_failure &late)
{
    using k = warning_kind;
    if (const warning_note &n = found[k::unknown_root]; n.count)
        print_at({path, n.line},
                 "warning: root element '%s' names no listing (artists, locations, "
                 "scheduledEvents); nothing written",
                 n.instance.data());
    if (const warning_note &n = found[k::tops_set_aside]; n.count)
        print_at({path, n.line},
                 "warning: %ld earlier top-level %s set aside, the first '%s'; only the last "
                 "is converted",
                 n.count, plural(n.count, "element", "elements"), n.instance.data());
    if (const warning_note &n = found[k::listing_ended]; n.count)
        print_at({path, n.line},
                 "warning: the listing ended at root child '%s'; %ld root %s left unread",
                 n.instance.data(), n.count, plural(n.count, "child", "children"));
    if (const warning_note &n = found[k::item_left_out]; n.count)
        print_at({path, n.line}, "warning: %ld '%s' %s without %s %s left out", n.count, names.item,
                 plural(n.count, "element", "elements"), names.required[0] == 'i' ? "an" : "a",
                 names.required);
    if (const warning_note &n = found[k::event_without_dates]; n.count)
        print_at({path, n.line},
                 "warning: %ld %s without a scheduled date wrote no line, the "
                 "first '%s'",
                 n.count, plural(n.count, "event", "events"), n.instance.data());
    if (const warning_note &n = found[k::field_cut]; n.count) {
        const bool named = n.instance[0] != '\0';
        print_at({path, n.line}, "warning: %ld %s cut to fit %s, the first in %s%s%s", n.count,
                 plural(n.count, "field", "fields"), plural(n.count, "its store", "their stores"),
                 named ? "item '" : "an item without an id", n.instance.data(), named ? "'" : "");
    }
    if (found[k::stopped_after_root].count) {
        char cause[cause_capacity];
        describe(cause, sizeof cause, late, "");
        print_at({path, has_line(late.cause) ? late.line : 0},
                 "warning: %s after the last complete top-level element; the rest of the "
                 "input was ignored",
                 cause);
    }
    if (const warning_note &n = found[k::zero_byte]; n.count)
        print_at({path, n.line},
                 "warning: a zero byte ended the input; the rest of the file was ignored");
}

void print_diagnostic(const char *format, ...)
{
    std::fputs("veltran: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}
