// Fuzz target: the hot-plug monitor's reading of uevents (vemoproc_hotplug):
// each datagram cut into lines (SplitEvent), the detection record brought up
// to date (GetDevDetchInfo, CheckField) and the match that decides between
// DevicePlugIn and DevicePlugOut (MatchTargetNode), as the monitor runs them
// after every receive, on one record kept across the datagrams.
//
// Input: datagrams until the input ends, each a u16 length (taken modulo
// 4097, the most one receive gives) and that many bytes. Each datagram lies
// in a buffer of exactly its length, with no terminator after it.
// Checked besides the sanitizers, against the documented rules: the lines
// are the datagram's NUL-separated pieces, cut to 1023 characters; each field
// takes the text behind the first "=" of the first line carrying its key, cut
// to the field; a new action clears the record and sets bPlugIn for "add";
// every field stays terminated; a match names "/dev/" and the node name, and
// happens exactly when the node name holds "qx_efex" and the product and
// modalias agree with the target's.
#include "FuzzSupport.h"

#include "DeviceMessage/HotPlugInfo.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using fuzz::Input;

// The pieces between NUL bytes, empty ones skipped, cut to 1023 characters.
std::vector<std::string> Pieces(const char* data, size_t length)
{
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start < length) {
        const char* nul = static_cast<const char*>(std::memchr(data + start, 0, length - start));
        const size_t end = nul ? static_cast<size_t>(nul - data) : length;
        if (end > start)
            pieces.emplace_back(data + start, std::min<size_t>(end - start, 1023));
        start = end + 1;
    }
    return pieces;
}

// What a field becomes: the text behind the first "=" of the first piece
// holding the key, cut to width - 1; false when no piece holds the key.
bool Value(const std::vector<std::string>& pieces, const char* key, size_t width, std::string& out)
{
    for (const std::string& piece : pieces) {
        if (piece.find(key) != std::string::npos) {
            out = piece.substr(piece.find('=') + 1).substr(0, width - 1);
            return true;
        }
    }
    return false;
}

template <size_t N> bool Terminated(const char (&field)[N])
{
    return std::memchr(field, 0, N) != nullptr;
}

bool Agrees(const std::string& a, const std::string& b, size_t n)
{
    const size_t m = std::min({a.size(), b.size(), n});
    return a.compare(0, m, b, 0, m) == 0;
}

void Check(const std::vector<std::string>& pieces, const HotPlugLines& lines,
    const Dev_Detch_Info& before, const Dev_Detch_Info& after)
{
    FUZZ_CHECK(lines.size() == pieces.size());
    for (size_t i = 0; i < lines.size(); ++i)
        FUZZ_CHECK(Terminated(lines[i].szLine) && lines[i].szLine == pieces[i]);
    FUZZ_CHECK(Terminated(after.szAction) && Terminated(after.szDevType));
    FUZZ_CHECK(Terminated(after.szProduct) && Terminated(after.szModAlias));
    FUZZ_CHECK(Terminated(after.szDevName));

    std::string action;
    bool cleared = false;
    if (Value(pieces, "ACTION=", sizeof after.szAction, action)) {
        FUZZ_CHECK(after.szAction == action);
        cleared = action != before.szAction;
        FUZZ_CHECK(after.bPlugIn == (cleared ? action == "add" : before.bPlugIn));
    } else {
        FUZZ_CHECK(std::strcmp(after.szAction, before.szAction) == 0);
        FUZZ_CHECK(after.bPlugIn == before.bPlugIn);
    }
    const struct {
        const char* key;
        const char* now;
        const char* was;
        size_t width;
    } fields[] = {
        {"DEVTYPE=", after.szDevType, before.szDevType, sizeof after.szDevType},
        {"PRODUCT=", after.szProduct, before.szProduct, sizeof after.szProduct},
        {"MODALIAS=", after.szModAlias, before.szModAlias, sizeof after.szModAlias},
        {"DEVNAME=", after.szDevName, before.szDevName, sizeof after.szDevName},
    };
    for (const auto& f : fields) {
        std::string value;
        if (!Value(pieces, f.key, f.width, value))
            value = cleared ? "" : f.was;
        FUZZ_CHECK(f.now == value);
    }

    char path[HOTPLUG_PATH_SIZE];
    std::memset(path, 'x', sizeof path);
    const bool matched = MatchTargetNode(after, path);
    const std::string name = after.szDevName;
    FUZZ_CHECK(matched
        == (name.find("qx_efex") != std::string::npos
            && Agrees("usb:v1F3ApEFE8d02B3dc00dsc00dp00icFFiscFFipFF", after.szModAlias, 15)
            && Agrees("1f3a/efe8/2b3", after.szProduct, 10)));
    FUZZ_CHECK(!matched || (Terminated(path) && path == "/dev/" + name));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in(data, size);
    Dev_Detch_Info record {};
    HotPlugLines lines;
    while (!in.empty()) {
        const std::string bytes = in.Bytes(in.U16() % (HOTPLUG_EVENT_SIZE + 1));
        // Exactly the bytes received, so that a read past them is seen.
        const std::unique_ptr<char[]> datagram(new char[bytes.size()]);
        std::memcpy(datagram.get(), bytes.data(), bytes.size());
        const Dev_Detch_Info before = record;
        SplitEvent(datagram.get(), bytes.size(), lines);
        GetDevDetchInfo(lines, &record);
        Check(Pieces(bytes.data(), bytes.size()), lines, before, record);
    }
    return 0;
}
