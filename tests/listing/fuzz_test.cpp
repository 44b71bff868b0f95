// The listing reader fed mutated listings. Each one ends just before a page
// that nothing may touch, so reading a byte past it crashes the test; after
// each, the tables must be consistent and what is written from them must
// read back unchanged.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "inventory/inventory.h"
#include "listing/listing.h"
#include "listings.h"
#include "shell/strings.h"

namespace {

constexpr size_t kRoom = 64 * 1024, kPage = 4096;

std::mt19937 g_random(20240611);

int Pick(int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(g_random);
}

// A few bytes of a listing changed, inserted, removed, repeated or cut; the
// inserted ones are mostly those the reader treats apart.
std::string Mutate(std::string text) {
    static const char special[] = ",,,'\n\n\r \t-+0123456789\xE4";
    for (int n = Pick(1, 8); n > 0; n--) {
        size_t at = static_cast<size_t>(Pick(0, static_cast<int>(text.size())));
        char c =
            Pick(0, 3) ? special[Pick(0, sizeof special - 2)] : static_cast<char>(Pick(0, 255));
        int change = Pick(0, 4);
        if (change == 0)
            text.insert(at, 1, c);
        else if (change == 1)
            text.erase(at, static_cast<size_t>(Pick(1, 30)));
        else if (change == 2)
            text.insert(at, text.substr(at, static_cast<size_t>(Pick(1, 300))));
        else if (change == 3)
            text.resize(at);
        else
            text.insert(at, std::to_string(Pick(-300, 300)));
    }
    return text.substr(0, kRoom);
}

// The listing written from the tables, its lines sorted.
std::vector<std::string> WrittenLines(std::string* text) {
    *text = std::string(ListingBuffer, GetDataBufferAndSize());
    ReleaseListingBuffer();
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = text->find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text->substr(at, end - at));
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST(ListingFuzz, NoListingReadsPastItsBytesOrLeavesTheTables) {
    PreloadStrings(GetModuleHandleA(nullptr));
    char* room =
        static_cast<char*>(VirtualAlloc(nullptr, kRoom + kPage, MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    VirtualProtect(room + kRoom, kPage, PAGE_NOACCESS, &old);
    auto read = [room](const std::string& text) { // the text ends at the guard page
        memcpy(room + kRoom - text.size(), text.data(), text.size());
        return ReadListingTables(room + kRoom - text.size(), static_cast<DWORD>(text.size()));
    };
    std::vector<std::string> seeds = {qvx::test::ExampleListing(), qvx::test::ForeignListing(),
                                      "3\nA\nB,'\nC\r\n3\n9,Tape,V,P,R,B,1\n1,No Device,,,,C\n"
                                      "7,Host Adapter,M,N,1,A,0\r\n"};
    int listings = 0;
    for (; listings < 100000 && !HasFailure(); listings++) {
        std::string listing = Mutate(seeds[static_cast<size_t>(Pick(0, int(seeds.size()) - 1))]);
        int result = read(listing);
        EXPECT_TRUE(AdapterCount >= 0 && AdapterCount <= MAX_ADAPTERS && TotalDeviceCount >= 0 &&
                    TotalDeviceCount <= MAX_DEVICE_SLOTS);
        EXPECT_EQ(result == LISTING_READ, AdapterCount > 0 && TotalDeviceCount > 0);
        for (const HostAdapterRecord& a : HostAdapterTable)
            EXPECT_TRUE(memchr(a.Identifier, 0, sizeof a.Identifier) && a.MaxTargets % 8 == 0);
        for (int slot = 0; slot < MAX_DEVICE_SLOTS; slot++) {
            const DeviceRecord& d = DeviceTable[slot];
            EXPECT_TRUE(memchr(d.TypeText, 0, 16) && memchr(d.Vendor, 0, sizeof d.Vendor) &&
                        memchr(d.Product, 0, sizeof d.Product) &&
                        memchr(d.Revision, 0, sizeof d.Revision) &&
                        memchr(d.AdapterIdentifier, 0, sizeof d.AdapterIdentifier));
            // A slot is listed under an adapter only in its own place there.
            EXPECT_TRUE(d.AdapterNumber == NO_ADAPTER_NUMBER || d.TypeText[0] == '\0' ||
                        slot == d.AdapterNumber * SLOTS_PER_ADAPTER + d.TargetId);
        }
        if (result != LISTING_READ)
            continue;
        if (seeds.size() < 300 && Pick(0, 99) == 0)
            seeds.push_back(listing);
        std::string written, again; // reads back to the same lines, in any order
        std::vector<std::string> lines = WrittenLines(&written);
        if (read(written) == LISTING_READ) {
            EXPECT_EQ(WrittenLines(&again), lines) << listing;
        }
    }
    EXPECT_EQ(listings, 100000);
    VirtualFree(room, 0, MEM_RELEASE);
}

} // namespace
