// A process for the identity tests to inspect by pid: it carries (or lacks)
// an identity section, depending on how it is compiled, and stays alive
// until its standard input closes.
#include "Constants.h"
#include "ExecutableIdentity.h"

#include <array>
#include <cstdio>
#include <string_view>

namespace {

#if defined(PROBE_IDENTIFIER)
constexpr std::string_view plistHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n<dict>\n"
    "\t<key>CFBundleIdentifier</key>\n\t<string>";
constexpr std::string_view plistTail = "</string>\n</dict>\n</plist>\n";
constexpr std::string_view identifier = PROBE_IDENTIFIER;

// The trailing NUL is kept on purpose, as a C string in a section would have it.
constexpr auto buildInfoPlist()
{
    std::array<char, plistHead.size() + identifier.size() + plistTail.size() + 1> out{};
    std::size_t at = 0;
    for (const std::string_view part : {plistHead, identifier, plistTail})
        for (const char c : part)
            out[at++] = c;
    return out;
}

[[gnu::section(".info_plist"), gnu::used]] constexpr auto infoPlist = buildInfoPlist();
#elif defined(PROBE_OVERSIZED_SECTION)
[[gnu::section(".info_plist"), gnu::used]] const char oversized[PVIdentity::maxInfoPlistBytes + 1] = {'<'};
#endif

} // namespace

int main()
{
    while (std::fgetc(stdin) != EOF) {
    }
    return 0;
}
