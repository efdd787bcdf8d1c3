// A hash index over the mac texts of station_table, so that the search a frame
// makes costs the same whichever row its station is in, with a full table.
//
// The index holds row numbers, never texts: the table stays the one place where
// texts live. A slot is trusted only after its row's text has been compared
// with the text searched, so a stale slot can never make a station known.
//
// The index follows the table by the row count: it covers rows 1 to
// indexed_rows, and whenever station_count differs (a fresh start after the
// table was emptied, rows written without station_index_add) it is rebuilt from
// the table before it answers. Code that rewrites rows in place without
// changing station_count must call station_index_rebuild() afterwards.
#include <cstring>

#include "quorvale_mon.h"

namespace {

// A power of two over twice the rows, so probe runs stay short.
constexpr int INDEX_SLOTS = 8192;
constexpr unsigned INDEX_MASK = INDEX_SLOTS - 1;
static_assert(INDEX_SLOTS >= 2 * STATION_TABLE_ROWS, "index too small for the table");
static_assert(STATION_TABLE_ROWS <= 0xFFFF, "rows must fit the slots");
constexpr uint32_t ROW_MASK = 0xFFFF;

// Per slot the row number in the low 16 bits, 0 (a row never filled) for an
// empty slot, and 16 more bits of the text's hash above it, so that most texts
// met along a probe run are passed over without touching their rows.
uint32_t index_slots[INDEX_SLOTS];
// The rows the index covers: 1 to indexed_rows.
int32_t indexed_rows;

// Only a text of exactly 17 characters can equal a MAC text.
bool is_mac_length(const char* text) {
    return strnlen(text, MAC_TEXT_SIZE) == MAC_TEXT_LEN;
}

// Compares 17 characters and the NUL in one go.
bool same_mac(const char* a, const char* b) {
    return memcmp(a, b, MAC_TEXT_SIZE) == 0;
}

uint64_t hash_mac(const char* mac) {
    uint64_t a, b;
    memcpy(&a, mac, 8);
    memcpy(&b, mac + 8, 8);
    uint64_t c = static_cast<unsigned char>(mac[16]);
    uint64_t h = (a ^ (b << 21 | b >> 43) ^ (c << 56)) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
    return h * 0xBF58476D1CE4E5B9ull;
}

// The slot bits of the hash are its top ones; the tag comes from below them.
uint32_t tag_of(uint64_t hash) {
    return static_cast<uint32_t>(hash >> 8) & ~ROW_MASK;
}

void insert_row(int row) {
    const char* mac = station_table[row].mac;
    // Rows that can never match (blank, short, over-long values) stay out.
    if (!is_mac_length(mac)) return;
    const uint64_t hash = hash_mac(mac);
    const uint32_t tag = tag_of(hash);
    for (unsigned slot = static_cast<unsigned>(hash >> 40) & INDEX_MASK;;
         slot = (slot + 1) & INDEX_MASK) {
        const uint32_t entry = index_slots[slot];
        if (entry == 0) {
            index_slots[slot] = tag | static_cast<uint32_t>(row);
            return;
        }
        // An equal text earlier in the table already answers for this one.
        if ((entry & ~ROW_MASK) == tag && same_mac(station_table[entry & ROW_MASK].mac, mac)) {
            return;
        }
    }
}

bool count_in_range() {
    return station_count >= 0 && station_count < STATION_TABLE_ROWS;
}

}  // namespace

unsigned station_index_home_slot(const char* mac) {
    return static_cast<unsigned>(hash_mac(mac) >> 40) & INDEX_MASK;
}

void station_index_rebuild() {
    memset(index_slots, 0, sizeof index_slots);
    indexed_rows = 0;
    if (!count_in_range()) return;
    for (int row = 1; row <= station_count; row++) insert_row(row);
    indexed_rows = station_count;
}

void station_index_add(int row) {
    if (row == indexed_rows + 1 && row == station_count) {
        insert_row(row);
        indexed_rows = row;
    } else {
        station_index_rebuild();
    }
}

int station_index_lookup(const char* mac) {
    // Texts of another length and a count outside the table are left to the
    // plain scan; the program itself never searches for such a text.
    if (!is_mac_length(mac) || !count_in_range()) return -1;
    if (indexed_rows != station_count) station_index_rebuild();

    // Row 0 is never added; it holds an empty text unless written directly.
    if (same_mac(station_table[0].mac, mac)) return 1;
    const uint64_t hash = hash_mac(mac);
    const uint32_t tag = tag_of(hash);
    for (unsigned slot = static_cast<unsigned>(hash >> 40) & INDEX_MASK;;
         slot = (slot + 1) & INDEX_MASK) {
        const uint32_t entry = index_slots[slot];
        if (entry == 0) return 0;
        if ((entry & ~ROW_MASK) == tag && same_mac(station_table[entry & ROW_MASK].mac, mac)) {
            return 1;
        }
    }
}
