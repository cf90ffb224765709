// Fault injection: this binary is linked with the malloc wrapper (malloc_fault.h), so
// every call of the system allocator made by the library can be refused: the N-th
// call, or every call from the N-th on. Each test sweeps N over a whole operation on
// data/fault-sweep.xml (attributes with quotation marks and &quot;, text with entities,
// nesting, an empty element, and text long enough to make the reader's buffer grow) and
// checks what the caller sees when memory runs out at that point.

#include "malloc_fault.h"
#include "test_support.h"

namespace
{

using FaultInjection = TrackedTest;
const char *const input = QVXML_TEST_DATA "/fault-sweep.xml";

// Runs op whole, then with its n-th malloc call refused, alone and from there on, for n
// up to one past its calls. Each run leaves the allocator balanced and gives the whole,
// or "failed " and the start of the whole, or what allows(got, whole, onward) takes;
// refusing the first call always shows.
template <class Op>
void sweep(Op op, bool (*allows)(const std::string &, const std::string &, bool) = nullptr)
{
    const allocation_balance before;
    malloc_fault_arm(0, false); // counted from the start of op
    const std::string whole = op();
    const long pages = malloc_fault_pages(), calls = malloc_fault_arm(0, false);
    // allocations past the wrapper (a calloc the compiler made up, say) would go untested
    ASSERT_EQ(allocation_balance().a - before.a, static_cast<unsigned long>(calls - pages));
    for (bool onward : {false, true})
        for (long n = 1; n <= calls + 1; ++n) {
            const allocation_balance balance;
            malloc_fault_arm(n, onward);
            const std::string got = op();
            malloc_fault_arm(0, false);
            const bool lost = (got.starts_with("failed ") && whole.starts_with(got.substr(7))) ||
                              (allows && allows(got, whole, onward));
            const bool ok = got == whole ? n > 1 : n <= calls && lost;
            EXPECT_EQ(balance.unbalanced() + (ok ? "" : "not allowed: " + got), "") << n << onward;
        }
}

// A failed load gives nothing; a failed streamed load has handed over exactly the start
// of the whole: each element handed over (for a child, the child) is written out whole,
// so that one handed over with part of its text, attributes or children missing shows.
const auto add = [](void *events, const auto *...e) {
    const xml_element *handed[] = {e...};
    *static_cast<std::string *>(events) +=
        written([&](FILE *h) { document_serialise_element(h, handed[sizeof...(e) - 1], 0); });
    return 0;
};

// The reader with the default content relays collects the element text; the tag
// relays, which allocate nothing, take what was collected. A failure to grow loses only
// the piece that could not be kept (once growth stops for good, several pieces are).
std::string collected;
int taken = 0;
const auto take = [](xml_application *x, auto...) {
    collected.append(x->buffer + taken, static_cast<std::size_t>(x->offset - taken));
    taken = x->offset;
    return 0;
};

TEST_F(FaultInjection, LoadsAndReadsGiveTheWholeOrALossTheCallerCanTell)
{
    sweep([]() -> std::string {
        std::string tree;
        const owned_tree t{document_parse_file(input)};
        if (!t) return "failed ";
        add(&tree, t.get());
        return tree;
    });
    sweep([] {
        std::string events;
        const document_stream s{
            .context = &events, .open_top = add, .child = add, .close_top = add};
        return (document_stream_file(input, &s) == 1 ? "" : "failed ") + events;
    });
    sweep(
        [] {
            collected.clear();
            taken = 0;
            xml_relay relays{};
            relays.open_tag = take;
            relays.close_tag = take;
            const int st = xml_parse(input, &relays, nullptr);
            if (st != status_ok && st != status_cannot_open) return std::string("another status");
            return (st == status_ok ? "" : "failed ") + collected;
        },
        [](const std::string &got, const std::string &whole, bool onward) {
            const auto head = std::mismatch(got.begin(), got.end(), whole.begin()).first;
            const auto tail = std::mismatch(got.rbegin(), got.rend(), whole.rbegin()).first;
            return onward || (head - got.begin() + (tail - got.rbegin()) >= std::ssize(got) &&
                              whole.size() - got.size() <= std::size_t(xml_max_token));
        });
}

// A secure block is wiped, header and all, when released: its page, which no other block
// holds, is back with the system allocator then, and shows what was left on it.
TEST_F(FaultInjection, SecureBlocksAreWipedBeforeRelease)
{
    void *p = std::memset(allocate_secure(32), 'x', 32);
    const unsigned char *freed = malloc_fault_watch_free(header_of(p));
    liberate(p);
    EXPECT_EQ(std::count(freed, freed + malloc_fault_freed_size, 0), malloc_fault_freed_size);
}

} // namespace
