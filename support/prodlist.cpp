#include "support/prodlist.h"

#include "support/util.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// --- helpers shared by every kind ---

// Returns a new array of n slots of size bytes, or nullptr (also when n <= 0: no array).
static void *new_array(int n, size_t size)
{
    return n > 0 ? std::malloc(static_cast<size_t>(n) * size) : nullptr;
}

// Reallocates (or allocates) an array to m slots; dies when memory is short.
static void *resize_array(void *array, int m, size_t size)
{
    return xrealloc(array, static_cast<size_t>(m > 0 ? m : 1) * size);
}

static int initial_delta(int nitems)
{
    return nitems > 0 ? nitems : 10;
}

// Capacity after one growth step. A step of 0 or less (delta is a public field) counts as 10,
// and the result always leaves room for one more item, so a full list can never overflow.
static int grown_capacity(int maxitems, int step, int nitems)
{
    long long cap = maxitems;
    long long by = step > 0 ? step : 10;
    do
        cap += by;
    while (cap <= nitems);
    if (cap > INT_MAX)
        die_out_of_memory();
    return static_cast<int>(cap);
}

// A capacity asked for below the items in use would drop them; it is raised to nitems.
static int kept_capacity(int m, int nitems)
{
    return m < nitems ? nitems : m;
}

// Byte-wise order of two strings; a null string sorts before every string.
static int compare_strings(const char *a, const char *b)
{
    if (!a || !b)
        return (a != nullptr) - (b != nullptr);
    return std::strcmp(a, b);
}

static const char *shown(const char *s)
{
    return s ? s : "(null)";
}

// Pointers are shown in full hexadecimal, whatever their width.
static unsigned long pointer_bits(const void *p)
{
    return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(p));
}

static bool show_list_head(const void *list, int nitems)
{
    if (!list) {
        std::fputs("display_list: Empty list\n", stdout);
        return false;
    }
    std::printf("%d Items in list:\n", nitems);
    return true;
}

// --- ProdAlphaList ---

ProdAlphaList *create_alpha_prodlist(int nitems)
{
    auto *list = static_cast<ProdAlphaList *>(std::malloc(sizeof(ProdAlphaList)));
    if (!list)
        return nullptr;
    list->item = static_cast<char **>(new_array(nitems, sizeof(char *)));
    if (nitems > 0 && !list->item) {
        std::free(list);
        return nullptr;
    }
    list->nitems = 0;
    list->maxitems = nitems;
    list->delta = initial_delta(nitems);
    return list;
}

static void grow_alpha_prodlist(ProdAlphaList *list, int step)
{
    resize_alpha_prodlist(list, grown_capacity(list->maxitems, step, list->nitems));
}

void append_alpha_prodlist(ProdAlphaList *list, char *str)
{
    if (!list)
        return;
    if (list->nitems >= list->maxitems)
        grow_alpha_prodlist(list, list->delta);
    list->item[list->nitems++] = str;
}

void insert_sorted_alpha_prodlist(ProdAlphaList *list, char *str)
{
    if (!list)
        return;
    int slot = 0;
    for (; slot < list->nitems; slot++) {
        int cmp = compare_strings(str, list->item[slot]);
        if (cmp == 0)
            return; // already there: str stays the caller's
        if (cmp < 0)
            break;
    }
    if (list->nitems >= list->maxitems)
        grow_alpha_prodlist(list, 10);
    std::memmove(list->item + slot + 1, list->item + slot,
                 static_cast<size_t>(list->nitems - slot) * sizeof(char *));
    list->item[slot] = str;
    list->nitems++;
}

void resize_alpha_prodlist(ProdAlphaList *list, int m)
{
    if (!list)
        return;
    m = kept_capacity(m, list->nitems);
    list->item = static_cast<char **>(resize_array(list->item, m, sizeof(char *)));
    list->maxitems = m;
}

void display_alpha_prodlist(const ProdAlphaList *list)
{
    if (!show_list_head(list, list ? list->nitems : 0))
        return;
    for (int i = 0; i < list->nitems; i++)
        std::printf("Item %3d: %s\n", i + 1, shown(list->item[i]));
}

void clear_alpha_prodlist(ProdAlphaList *list)
{
    if (!list)
        return;
    for (int i = 0; i < list->nitems; i++)
        std::free(list->item[i]);
    list->nitems = 0;
}

void free_alpha_prodlist(ProdAlphaList *list)
{
    if (!list)
        return;
    clear_alpha_prodlist(list);
    std::free(list->item);
    std::free(list);
}

// --- ProdAPtrList ---

ProdAPtrList *create_aptr_prodlist(int nitems)
{
    auto *list = static_cast<ProdAPtrList *>(std::malloc(sizeof(ProdAPtrList)));
    if (!list)
        return nullptr;
    list->key = static_cast<char **>(new_array(nitems, sizeof(char *)));
    list->item = static_cast<void **>(new_array(nitems, sizeof(void *)));
    if (nitems > 0 && (!list->key || !list->item)) {
        std::free(list->key);
        std::free(list->item);
        std::free(list);
        return nullptr;
    }
    list->nitems = 0;
    list->maxitems = nitems;
    list->delta = initial_delta(nitems);
    return list;
}

// Narrows [*low, *high] by halving until at most 11 keys remain. Returns the slot holding
// key when a probe hits it, else -1.
static int halve_aptr_window(const ProdAPtrList *list, const char *key, int *low, int *high)
{
    while (*high - *low > 10) {
        int mid = *low + (*high - *low) / 2;
        int cmp = compare_strings(key, list->key[mid]);
        if (cmp == 0)
            return mid;
        if (cmp > 0)
            *low = mid;
        else
            *high = mid;
    }
    return -1;
}

int bsearch_aptr_prodlist(const ProdAPtrList *list, const char *key)
{
    if (!list)
        return -1;
    int low = 0;
    int high = list->nitems - 1;
    int hit = halve_aptr_window(list, key, &low, &high);
    if (hit >= 0)
        return hit;
    for (int i = low; i <= high; i++)
        if (compare_strings(key, list->key[i]) == 0)
            return i;
    return -1;
}

static void insert_aptr_slot(ProdAPtrList *list, int slot, char *key, void *ent)
{
    if (list->nitems >= list->maxitems)
        resize_aptr_prodlist(list, grown_capacity(list->maxitems, list->delta, list->nitems));
    size_t tail = static_cast<size_t>(list->nitems - slot);
    std::memmove(list->key + slot + 1, list->key + slot, tail * sizeof(char *));
    std::memmove(list->item + slot + 1, list->item + slot, tail * sizeof(void *));
    list->nitems++;
    list->item[slot] = ent;
    list->key[slot] = key;
}

static void *replace_aptr_item(ProdAPtrList *list, int slot, void *ent)
{
    void *old = list->item[slot];
    list->item[slot] = ent;
    return old;
}

void *bupdate_aptr_prodlist(ProdAPtrList *list, char *key, void *ent)
{
    if (!list || !key)
        return nullptr;
    int low = 0;
    int high = list->nitems - 1;
    int hit = halve_aptr_window(list, key, &low, &high);
    if (hit >= 0)
        return replace_aptr_item(list, hit, ent);
    int slot = low;
    for (; slot <= high; slot++) {
        int cmp = compare_strings(list->key[slot], key);
        if (cmp == 0)
            return replace_aptr_item(list, slot, ent);
        if (cmp > 0)
            break;
    }
    insert_aptr_slot(list, slot, key, ent);
    return nullptr;
}

ProdAPtrList *resize_aptr_prodlist(ProdAPtrList *list, int m)
{
    if (!list)
        return nullptr;
    m = kept_capacity(m, list->nitems);
    list->item = static_cast<void **>(resize_array(list->item, m, sizeof(void *)));
    list->key = static_cast<char **>(resize_array(list->key, m, sizeof(char *)));
    list->maxitems = m;
    return list;
}

void display_aptr_prodlist(const ProdAPtrList *list)
{
    if (!show_list_head(list, list ? list->nitems : 0))
        return;
    for (int i = 0; i < list->nitems; i++)
        std::printf("Item %3d: (%s) %lx\n", i + 1, shown(list->key[i]),
                    pointer_bits(list->item[i]));
}

void clear_aptr_prodlist(ProdAPtrList *list)
{
    if (!list)
        return;
    for (int i = 0; i < list->nitems; i++) {
        std::free(list->item[i]);
        std::free(list->key[i]);
    }
    list->nitems = 0;
}

void free_aptr_prodlist(ProdAPtrList *list)
{
    if (!list)
        return;
    clear_aptr_prodlist(list);
    std::free(list->item);
    std::free(list->key);
    std::free(list);
}
