// Entity conversion on arbitrary text: at the XML extent, turning characters into
// entity names and the names back gives the original text, whatever names of its
// own it held; the HTML extent is put back afterwards.

#include <algorithm>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "qvxml/xmlparse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    allocation_balance balance;
    std::string original(reinterpret_cast<const char *>(data), size);
    original.erase(std::find(original.begin(), original.end(), '\0'), original.end());

    char *text = allocate_string(original.c_str());
    FUZZ_CHECK(text);
    use_xml_macros();
    convert_html_accents(&text, 2);
    convert_html_accents(&text, 1);
    use_html_macros();
    FUZZ_CHECK(original == text);
    liberate(text);

    // mode 1 alone never grows the text and keeps it terminated inside its block
    char *once = allocate_string(original.c_str());
    FUZZ_CHECK(once);
    use_xml_macros();
    convert_html_accents(&once, 1);
    use_html_macros();
    FUZZ_CHECK(std::strlen(once) <= original.size());
    liberate(once);
    balance.check();
    return 0;
}
