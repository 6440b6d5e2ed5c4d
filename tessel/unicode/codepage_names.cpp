#include "tessel/unicode/unicode.h"

#include <cstdlib>
#include <string_view>
#include <unordered_map>

namespace tessel::unicode {

namespace {

struct named_codepage
{
    int codepage;
    const char* name;  // lower case, without "-" and "_"
};

// Where a name appears twice, the first entry wins.
constexpr named_codepage known_names[] = {
    {-1, "ascii"}, {-1, "usascii"},
    {780, "asmo780"},
    {874, "tis620"},
    {932, "csshiftjis"}, {932, "cswindows31j"}, {932, "mskanji"}, {932, "shiftjis"}, {932, "xsjis"},
    {936, "csgb2312"}, {936, "csgb231280"}, {936, "csiso58gb231280"}, {936, "cngb"}, {936, "gbk"},
    {936, "gb2312"}, {936, "gb231280"}, {936, "isoir58"},
    {949, "ksc5601"}, {949, "ksc56011987"}, {949, "csksc5601"}, {949, "csksc56011987"},
    {949, "isoir149"}, {949, "korean"},
    {950, "big5"}, {950, "cnbig5"}, {950, "csbig5"}, {950, "xxbig5"},
    {1252, "isoir6"}, {1252, "isoir100"}, {1252, "iso646us"},
    {1254, "isoir148"},
    {1361, "johab"},
    {10000, "macintosh"},
    {10001, "xmacjapanese"},
    {10002, "xmacchinesetrad"},
    {10003, "xmackorean"},
    {10004, "xmacarabic"},
    {10005, "xmachebrew"},
    {10006, "xmacgreek"},
    {10007, "xmaccyrillic"},
    {10029, "xmacce"},
    {10079, "xisciias"}, {10079, "xmacicelandic"},
    {20000, "xchinesecns"},
    {20002, "xchineseeten"},
    {20106, "xia5german"},
    {20107, "xia5swedish"},
    {20108, "xia5norwegian"},
    {20866, "koi"}, {20866, "koi8"}, {20866, "koi8r"},
    {21866, "koi8u"}, {21866, "koi8ru"},
    {28592, "isoir101"},
    {28594, "isoir110"},
    {28595, "csisolatincyrillic"}, {28595, "cyrillic"}, {28595, "isoir144"},
    {28596, "arabic"}, {28596, "csisolatinarabic"}, {28596, "ecma114"}, {28596, "isoir127"},
    {28597, "csisolatingreek"}, {28597, "ecma118"}, {28597, "elot928"}, {28597, "greek"},
    {28597, "greek8"}, {28597, "isoir126"},
    {28598, "csisolatinhebrew"}, {28598, "hebrew"}, {28598, "isoir138"}, {28598, "visual"},
    {29001, "xeuropa"},
    {38598, "iso88598i"}, {38598, "logical"},
    {50221, "csiso2022jp"}, {50221, "iso2022jp"},
    {51932, "eucjp"}, {51932, "cseucjp"}, {51932, "xeucjp"},
    {51936, "euccn"}, {51936, "cseuccn"}, {51936, "xeuccn"},
    {51949, "euckr"}, {51949, "cseuckr"}, {51949, "xcseuckr"},
    {52936, "hzgb2312"}, {52936, "xmacchinesesimp"},
    {54936, "gb18030"},
    {57003, "xisciide"},
    {57004, "xisciita"},
    {57005, "xisciite"},
    {57006, "xisciibe"},
    {57007, "xisciior"},
    {57008, "xisciika"},
    {57009, "xisciima"},
    {57010, "xisciigu"},
    {57011, "xisciipa"},
    {65000, "utf7"}, {65000, "unicode11utf7"}, {65000, "unicode20utf7"},
    {65001, "utf8"}, {65001, "unicode11utf8"}, {65001, "unicode20utf8"},
};

using name_table = std::unordered_map<std::string_view, int>;

const name_table& names()
{
    static const name_table table = [] {
        name_table built;
        for (const named_codepage& entry : known_names)
            built.emplace(entry.name, entry.codepage);  // keeps the first entry of a name
        return built;
    }();
    return table;
}

// Built while the process starts, so lookups never build it concurrently.
[[maybe_unused]] const name_table& built_at_start_up = names();

std::string normalised(const std::string& name)
{
    std::string result;
    result.reserve(name.size());
    for (char c : name) {
        if (c == '-' || c == '_')
            continue;
        result += (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    }
    return result;
}

// The decimal number at the start of the text; 0 when there are no digits.
// Absurdly long numbers stop at nine digits rather than overflow.
int leading_number(std::string_view text)
{
    int number = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || number >= 100000000)
            break;
        number = number * 10 + (c - '0');
    }
    return number;
}

bool starts_with(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

} // namespace

int codepage_from_name(const std::string& name)
{
    const std::string key = normalised(name);
    const name_table& table = names();
    if (auto found = table.find(key); found != table.end())
        return found->second;
    for (std::string_view prefix : {"iso8859", "latin", "csisolatin"}) {
        if (starts_with(key, prefix))
            return 28590 + leading_number(std::string_view(key).substr(prefix.size()));
    }
    for (std::string_view prefix : {"windows", "dos", "ibm", "cp"}) {
        if (starts_with(key, prefix))
            return leading_number(std::string_view(key).substr(prefix.size()));
    }
    return -1;
}

} // namespace tessel::unicode
