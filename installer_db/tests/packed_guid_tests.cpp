#include "installer_db/packed_guid.h"

#include <gtest/gtest.h>

namespace {

struct packing_case
{
    const wchar_t* text;
    const wchar_t* packed;
};

// Every spelling of a GUID packs alike; what holds fewer than 32 digits packs
// to nothing.
const packing_case packing_cases[] = {
    {L"{12345678-9ABC-DEF0-1234-56789ABCDEF0}", L"87654321CBA90FED21436587A9CBED0F"},
    {L"{5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}", L"02E7A1C549B3F6D4E912A7C0B4D8F216"},
    {L"{5c1a7e20-3b94-4d6f-9e21-7a0c4b8d2f61}", L"02E7A1C549B3F6D4E912A7C0B4D8F216"},
    {L"5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61", L"02E7A1C549B3F6D4E912A7C0B4D8F216"},
    {L"5C1A7E203B944D6F9E217A0C4B8D2F61", L"02E7A1C549B3F6D4E912A7C0B4D8F216"},
    {L" {5C1A7E20 3B94 4D6F 9E21 7A0C4B8D2F61} ", L"02E7A1C549B3F6D4E912A7C0B4D8F216"},
    // Digits after the 32nd are ignored.
    {L"{5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}ABC", L"02E7A1C549B3F6D4E912A7C0B4D8F216"},
    {L"{5C1A4E71-3B20-6F4D-8A9C-0E1F2B3D4C5A}", L"17E4A1C502B3D4F6A8C9E0F1B2D3C4A5"},
    {L"{5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F6}", L""},
    {L"not a code at all", L""},
    {L"", L""},
};

TEST(packed_guid, packs_every_spelling_of_a_guid)
{
    for (const packing_case& c : packing_cases)
        EXPECT_EQ(pack_guid(c.text), c.packed) << "text: " << testing::PrintToString(std::wstring(c.text));
}

TEST(packed_guid, unpacks_to_the_braced_upper_case_guid)
{
    EXPECT_EQ(unpack_guid(L"87654321CBA90FED21436587A9CBED0F"), L"{12345678-9ABC-DEF0-1234-56789ABCDEF0}");
    EXPECT_EQ(unpack_guid(L"02e7a1c549b3f6d4e912a7c0b4d8f216"), L"{5C1A7E20-3B94-4D6F-9E21-7A0C4B8D2F61}");
    EXPECT_EQ(unpack_guid(L"17E4A1C502B3D4F6A8C9E0F1B2D3C4A5"), L"{5C1A4E71-3B20-6F4D-8A9C-0E1F2B3D4C5A}");
}

TEST(packed_guid, unpacking_reverses_packing)
{
    const std::wstring guid = L"{7474D25A-55B7-4CB8-9D93-1FB2B1F3726B}";
    EXPECT_EQ(pack_guid(guid), L"A52D47477B558BC4D939F12B1B3F27B6");
    EXPECT_EQ(unpack_guid(pack_guid(guid)), guid);
}

TEST(packed_guid, short_input_unpacks_to_nothing)
{
    EXPECT_EQ(unpack_guid(L"02E7A1C549B3F6D4E912A7C0B4D8F21"), L"");
    EXPECT_EQ(unpack_guid(L"{5C1A7E20-3B94}"), L"");
    EXPECT_EQ(unpack_guid(L""), L"");
}

} // namespace
