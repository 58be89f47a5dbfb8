// The user-data area: adding and reading items, the ring's wrap, purging overwritten files,
// card-number patterns and the window search, and bounds on pointers read from a disk.
#include "krt/userdata.h"

#include <cstring>
#include <vector>

#include "krt/cache.h"
#include "krt/endian.h"
#include "krt/result.h"
#include "test_support.h"

namespace krt {
namespace {

// A card record from 20 digits written as text, most significant digit first (as printed:
// byte 9 high nibble .. byte 0 low nibble); 'F' is the wildcard digit.
UserData card(const char* digits, uint8_t type) {
  UserData ud{};
  for (int k = 0; k < 20; ++k) {
    const char c = digits[k];
    const uint8_t v = uint8_t(c >= 'A' ? c - 'A' + 10 : c - '0');
    const int digit = 19 - k;  // digit 2i is byte i's low nibble
    ud.card[digit / 2] |= uint8_t(digit % 2 ? v << 4 : v);
  }
  ud.card_type = type;
  return ud;
}

class UserDataTest : public test::LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    image_.tag_krt();
    ASSERT_EQ(test::attach_only({image_.path()}), 1);
    p_.dev = 0;
    p_.start_sector = 0;
    p_.status = kStatusClean;
    p_.sector_per_clus = 1024;
    p_.temp_off = kTempOff;
    p_.coll_sec = kCollSec;
    p_.data_off = 256;
    p_.rev_clus = 120;  // 122,880 reserved sectors: exactly room for the area
    p_.total_clus = 200;
    p_.ud_start = p_.data_off + kUdAreaOffset;
    p_.ud_item_size = kUdItemSize;
    p_.ud_items = kUdItems;
    p_.ud_first_item = 1;
    p_.ud_last_item = 1;
    p_.lap = 5;
    p_.current_cluster = 150;
  }

  // The 16 bytes of item n as the cache shows them.
  std::vector<uint8_t> item_bytes(uint32_t n) {
    HeldBuf b(bread(0, p_.ud_start + n / 32));
    EXPECT_TRUE(b);
    return std::vector<uint8_t>(b->data + (n % 32) * 16, b->data + (n % 32) * 16 + 16);
  }

  uint32_t add(uint32_t first_cluster, const UserData& ud) {
    uint32_t n = 0;
    EXPECT_EQ(ud_add_item(p_, first_cluster, ud, n), FS_OK);
    return n;
  }

  static constexpr uint64_t kSectors = 256 + 200 * 1024;
  test::TempImage image_{kSectors};
  DriverParam p_{};
};

TEST_F(UserDataTest, AddedItemsReadBackForTheirFileOnly) {
  const UserData a = card("00000000001234567890", 7);
  const uint32_t first = add(130, a);
  const uint32_t second = add(131, card("99999999999999999999", 7));
  EXPECT_EQ(first, 1u);
  EXPECT_EQ(second, 2u);
  EXPECT_EQ(p_.ud_last_item, 3u);
  const std::vector<uint8_t> raw = item_bytes(1);
  EXPECT_EQ(raw[11], 5);  // the driver's lap
  EXPECT_EQ(ld32(&raw[12]), 130u);

  UserData out{};
  ASSERT_EQ(ud_get_item(p_, 1, 130, out), FS_OK);
  EXPECT_EQ(std::memcmp(out.card, a.card, 10), 0);
  EXPECT_EQ(out.card_type, 7);
  EXPECT_EQ(out.lap, 5);
  EXPECT_EQ(ud_get_item(p_, 0, 130, out), FS_NO_USER_DATA);
  EXPECT_EQ(ud_get_item(p_, kUdItems, 130, out), FS_NO_USER_DATA);
}

TEST_F(UserDataTest, LastItemWrapsToOne) {
  p_.ud_first_item = kUdItems - 1;
  p_.ud_last_item = kUdItems - 1;
  p_.lap = 0;
  EXPECT_EQ(add(130, card("11111111111111111111", 1)), kUdItems - 1);
  EXPECT_EQ(p_.ud_last_item, 1u);
  EXPECT_EQ(add(131, card("22222222222222222222", 1)), 1u);
  EXPECT_EQ(p_.ud_last_item, 2u);
}

TEST_F(UserDataTest, PurgeDropsItemsOfOverwrittenFiles) {
  struct Case {
    uint8_t driver_lap;
    uint32_t current_cluster;
    bool purged;
  };
  const Case cases[] = {
      {6, 150, true},   // next lap, write position past the file: overwritten
      {5, 150, false},  // same lap: kept
      {6, 90, false},   // next lap, write position not yet at the file: kept
      {0, 150, false},  // lap 0: nothing is purged
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.driver_lap));
    binit();
    p_.ud_first_item = p_.ud_last_item = 1;
    p_.lap = 5;
    add(100, card("12345678901234567890", 3));
    add(200, card("12345678901234567890", 3));
    p_.lap = c.driver_lap;
    p_.current_cluster = c.current_cluster;
    test::LogCapture log;
    ASSERT_EQ(ud_purge(p_), FS_OK);
    EXPECT_EQ(p_.ud_first_item, c.purged ? 2u : 1u);
    EXPECT_EQ(ld32(&item_bytes(1)[12]), c.purged ? 0u : 100u);
    EXPECT_EQ(ld32(&item_bytes(2)[12]), 200u);  // its file lies past the write position
    EXPECT_EQ(log.text().find("del ud fir_clus=100") != std::string::npos, c.purged);
  }
}

TEST_F(UserDataTest, ItemOfAnotherFileIsNoUserDataAndPurges) {
  add(100, card("12345678901234567890", 3));
  add(140, card("12345678901234567890", 3));
  p_.lap = 6;  // the recorder came round again and wrote over cluster 100
  p_.current_cluster = 120;
  UserData out{};
  EXPECT_EQ(ud_get_item(p_, 1, 120, out), FS_NO_USER_DATA);
  EXPECT_EQ(p_.ud_first_item, 2u);
  EXPECT_EQ(ld32(&item_bytes(1)[12]), 0u);
}

TEST_F(UserDataTest, CardMatch) {
  struct Case {
    const char* pattern;
    uint8_t pattern_type;
    bool matches;
  };
  const UserData item = card("00000000000000000034", 2);
  const Case cases[] = {
      {"FFFFFFFFFFFFFFFFFFFF", 0xFF, true},   // matches every item
      {"00000000000000000034", 2, true},
      {"00000000000000000034", 3, false},     // other card type
      {"00000000000000000034", 0xFF, true},
      {"000000000000000000F4", 2, true},      // wildcard digit
      {"00000000000000000044", 2, false},     // 3 against 4
      {"00000000000000000035", 2, false},     // lowest digit
      {"10000000000000000034", 2, false},     // highest digit
  };
  for (const Case& c : cases) {
    EXPECT_EQ(card_match(card(c.pattern, c.pattern_type), item), c.matches) << c.pattern;
  }
  // 0xF on the item's side matches every pattern digit too.
  EXPECT_TRUE(card_match(card("00000000000000000034", 2), card("0000000000000000003F", 2)));
}

TEST_F(UserDataTest, CheckItemMatchesWindowsOfTheFilesItems) {
  // File 130 carries two cards of type 1 with an item of type 9 between them; then file 140.
  const uint32_t start = add(130, card("00000000000000000001", 1));
  add(130, card("00000000000000000077", 9));
  add(130, card("00000000000000000002", 1));
  add(140, card("00000000000000000003", 1));
  const UserData one = card("00000000000000000001", 1);
  const UserData two = card("00000000000000000002", 1);
  const UserData any = card("FFFFFFFFFFFFFFFFFFFF", 0xFF);
  const UserData in_order[] = {one, two};
  const UserData reversed[] = {two, one};
  const UserData second_only[] = {two};
  const UserData three[] = {any, any, any};
  EXPECT_EQ(ud_check_item(p_, in_order, 2, 130, start), FS_OK);
  EXPECT_EQ(ud_check_item(p_, reversed, 2, 130, start), FS_NO_USER_DATA);
  EXPECT_EQ(ud_check_item(p_, second_only, 1, 130, start), FS_OK);  // second window
  EXPECT_EQ(ud_check_item(p_, three, 3, 130, start), FS_NO_USER_DATA);  // the file's items end
  EXPECT_EQ(ud_check_item(p_, in_order, 2, 130, 0), FS_NO_USER_DATA);
  EXPECT_EQ(ud_check_item(p_, in_order, 0, 130, start), FS_NO_USER_DATA);
  const UserData third[] = {card("00000000000000000003", 1)};
  EXPECT_EQ(ud_check_item(p_, third, 1, 140, 4), FS_OK);
  EXPECT_EQ(ud_check_item(p_, third, 1, 140, 5), FS_NO_USER_DATA);  // reaches ud_last_item

  // A partition not closed cleanly is purged first: file 130 was overwritten in lap 6.
  p_.status = 0;
  p_.lap = 6;
  p_.current_cluster = 135;
  test::LogCapture log;
  EXPECT_EQ(ud_check_item(p_, in_order, 2, 130, start), FS_NO_USER_DATA);
  EXPECT_EQ(p_.ud_first_item, 4u);
  EXPECT_EQ(ud_check_item(p_, third, 1, 140, 4), FS_OK);
}

// Ring pointers read from a corrupt disk never send a walk round for ever or outside the area.
TEST_F(UserDataTest, CorruptRingPointersAreBounded) {
  p_.lap = 6;
  p_.current_cluster = 150;
  p_.ud_first_item = 1;
  p_.ud_last_item = 0xFFFFFFF0;  // never reached
  test::LogCapture log;
  EXPECT_EQ(ud_purge(p_), FS_OK);  // walks at most once round

  // A search whose end is never reached stops after one turn: a ring of 7 items, the file's
  // first item of type 1 that never matches, the others of a type passed over.
  p_.ud_items = 8;
  p_.ud_first_item = p_.ud_last_item = 1;
  p_.lap = 0;
  add(130, card("00000000000000000001", 1));
  for (int i = 0; i < 6; ++i) add(130, card("00000000000000000002", 2));
  ASSERT_EQ(p_.ud_last_item, 1u);
  p_.ud_last_item = 0xFFFFFFF0;
  const UserData nine[] = {card("00000000000000000009", 1), card("00000000000000000009", 1)};
  EXPECT_EQ(ud_check_item(p_, nine, 2, 130, 1), FS_NO_USER_DATA);

  p_.ud_items = 0xFFFFFFFF;
  p_.ud_first_item = 1;
  UserData out{};
  EXPECT_EQ(ud_get_item(p_, kUdItems + 5, 130, out), FS_NO_USER_DATA);
  uint32_t n = 0;
  EXPECT_EQ(ud_add_item(p_, 130, card("11111111111111111111", 1), n), 1);  // area would run past the reserve
  p_.ud_items = kUdItems;
  EXPECT_EQ(ud_add_item(p_, 130, card("11111111111111111111", 1), n), FS_IO_ERROR);
}

TEST_F(UserDataTest, InitClearsTheWholeAreaAndItsCachedSectors) {
  add(130, card("12345678901234567890", 3));  // item 1 is now in the cache
  static std::vector<std::pair<uint64_t, uint16_t>> writes;
  writes.clear();
  set_disk_hooks(DiskHooks{nullptr, [](uint16_t, uint16_t count, uint32_t lo, uint32_t,
                                       const uint8_t*) {
                             writes.emplace_back(lo, count);
                             return 0;
                           }});
  ASSERT_EQ(init_ud_area(p_), FS_OK);
  uint64_t next = p_.ud_start;
  for (const auto& [sector, count] : writes) {
    EXPECT_EQ(sector, next);
    next = sector + count;
  }
  EXPECT_EQ(next, p_.ud_start + kUdAreaSectors);
  EXPECT_EQ(ld32(&item_bytes(1)[12]), 0u);

  p_.rev_clus = 119;  // one cluster short of the area
  test::LogCapture log;
  EXPECT_EQ(init_ud_area(p_), 1);
  const std::string text = log.text();
  EXPECT_NE(text.find("FSWarn partition 0 of disk 0: its user-data area does not lie inside"), std::string::npos) << text;
  EXPECT_EQ(text.find("init_ud_area"), std::string::npos) << text;
}

}  // namespace
}  // namespace krt
