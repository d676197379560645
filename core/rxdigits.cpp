/*
 * rxdigits.cpp -- the digits of one reception and the ways they are read.
 */
#include "core/dtmf_core.h"
#include "core/core_internal.h"

#include <stdlib.h>

void rx_digits_init(RxDigits *r, uint64_t limit) {
    r->digits = NULL;
    r->count = 0;
    r->cap = 0;
    r->limit = limit;
    r->dropped = 0;
    r->keys = KEYS_0_6;
}

void rx_digits_free(RxDigits *r) {
    const int32_t keys = r->keys;
    free(r->digits);
    rx_digits_init(r, r->limit);
    r->keys = keys;
}

void rx_digits_clear(RxDigits *r) {
    r->count = 0;
    r->dropped = 0;
}

int32_t rx_digits_full(const RxDigits *r) { return r->limit && r->count >= r->limit; }

int32_t rx_digits_add(RxDigits *r, int32_t digit) {
    if (digit < 0 || digit > rx_lost_marker(r->keys)) return -1;
    if (rx_digits_full(r)) {
        r->dropped++;
        return 0;
    }
    if (r->count == r->cap) {
        uint64_t cap = r->cap ? r->cap * 2 : 256;
        if (r->limit && cap > r->limit) cap = r->limit;
        if (cap > SIZE_MAX / sizeof(int32_t)) core_out_of_memory();
        int32_t *p = (int32_t *)realloc(r->digits, (size_t)cap * sizeof(int32_t));
        if (!p) core_out_of_memory();
        r->digits = p;
        r->cap = cap;
    }
    r->digits[r->count++] = digit;
    return 1;
}

char rx_pair_char(int32_t hi, int32_t lo, int32_t reading) {
    /* Only digits 0-6 make a code; anything else must not reach the tables. */
    if (hi < 0 || hi > 6 || lo < 0 || lo > 6) return '?';
    if (reading == RX_READ_HEX) {
        int32_t v = pair6_to_hex_nibble(hi, lo);
        return v <= 15 ? HEX_CHARS[v] : '?';
    }
    return num_to_letter(pair7_to_num(hi, lo));
}

char rx_digits_last_pair(const RxDigits *r, int32_t reading) {
    if (r->count == 0 || (r->count & 1)) return 0;
    return rx_pair_char(r->digits[r->count - 2], r->digits[r->count - 1], reading);
}

int32_t rx_lost_marker(int32_t keys) { return keys == KEYS_ALL ? RX_KEY_LOST : RX_DIGIT_LOST; }

char rx_value_char(int32_t v, int32_t keys) {
    if (v < 0 || v >= rx_lost_marker(keys)) return '?';
    return KEY_CHARS[v];
}

uint64_t rx_digits_chars(const RxDigits *r, char *out, uint64_t size) {
    if (!out || size == 0) return 0;
    uint64_t w = 0;
    for (; w < r->count && w + 1 < size; w++) out[w] = rx_value_char(r->digits[w], r->keys);
    out[w] = '\0';
    return w;
}

uint64_t rx_digits_read(const RxDigits *r, int32_t reading, char *out, uint64_t size) {
    if (!out || size == 0) return 0;
    uint64_t w = 0;
    for (uint64_t i = 0; i + 1 < r->count && w + 1 < size; i += 2)
        out[w++] = rx_pair_char(r->digits[i], r->digits[i + 1], reading);
    out[w] = '\0';
    return w;
}
