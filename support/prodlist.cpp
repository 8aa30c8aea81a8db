#include "support/prodlist.h"

#include "support/util.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

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

// --- ProdList ---

ProdList *create_prodlist(int nitems)
{
    auto *list = static_cast<ProdList *>(std::malloc(sizeof(ProdList)));
    if (!list)
        return nullptr;
    list->item = static_cast<char **>(new_array(nitems, sizeof(char *)));
    list->desc = static_cast<char **>(new_array(nitems, sizeof(char *)));
    if (nitems > 0 && (!list->item || !list->desc)) {
        std::free(list->item);
        std::free(list->desc);
        std::free(list);
        return nullptr;
    }
    list->nitems = 0;
    list->maxitems = nitems;
    list->delta = initial_delta(nitems);
    return list;
}

ProdList *resize_prodlist(ProdList *list, int m)
{
    if (!list)
        return nullptr;
    m = kept_capacity(m, list->nitems);
    list->item = static_cast<char **>(resize_array(list->item, m, sizeof(char *)));
    list->desc = static_cast<char **>(resize_array(list->desc, m, sizeof(char *)));
    list->maxitems = m;
    return list;
}

void display_prodlist(const ProdList *list)
{
    if (!show_list_head(list, list ? list->nitems : 0))
        return;
    for (int i = 0; i < list->nitems; i++)
        std::printf("Item %3d: %s\t%s\n", i + 1, shown(list->item[i]), shown(list->desc[i]));
}

void clear_prodlist(ProdList *list)
{
    if (!list)
        return;
    for (int i = 0; i < list->nitems; i++) {
        std::free(list->item[i]);
        std::free(list->desc[i]);
    }
    list->nitems = 0;
}

void free_prodlist(ProdList *list)
{
    if (!list)
        return;
    clear_prodlist(list);
    std::free(list->item);
    std::free(list->desc);
    std::free(list);
}

// --- ProdNumList ---

ProdNumList *create_num_prodlist(int nitems)
{
    auto *list = static_cast<ProdNumList *>(std::malloc(sizeof(ProdNumList)));
    if (!list)
        return nullptr;
    list->item = static_cast<long *>(new_array(nitems, sizeof(long)));
    if (nitems > 0 && !list->item) {
        std::free(list);
        return nullptr;
    }
    list->nitems = 0;
    list->maxitems = nitems;
    list->delta = initial_delta(nitems);
    return list;
}

ProdNumList *resize_num_prodlist(ProdNumList *list, int m)
{
    if (!list)
        return nullptr;
    m = kept_capacity(m, list->nitems);
    list->item = static_cast<long *>(resize_array(list->item, m, sizeof(long)));
    list->maxitems = m;
    return list;
}

void display_num_prodlist(const ProdNumList *list)
{
    if (!show_list_head(list, list ? list->nitems : 0))
        return;
    for (int i = 0; i < list->nitems; i++)
        std::printf("Item %3d: %ld\n", i + 1, list->item[i]);
}

void clear_num_prodlist(ProdNumList *list)
{
    if (list)
        list->nitems = 0;
}

void free_num_prodlist(ProdNumList *list)
{
    if (!list)
        return;
    std::free(list->item);
    std::free(list);
}

// --- ProdUNumList ---

ProdUNumList *create_unum_prodlist(int nitems)
{
    auto *list = static_cast<ProdUNumList *>(std::malloc(sizeof(ProdUNumList)));
    if (!list)
        return nullptr;
    list->item = static_cast<unsigned long *>(new_array(nitems, sizeof(unsigned long)));
    if (nitems > 0 && !list->item) {
        std::free(list);
        return nullptr;
    }
    list->nitems = 0;
    list->maxitems = nitems;
    list->delta = initial_delta(nitems);
    return list;
}

ProdUNumList *resize_unum_prodlist(ProdUNumList *list, int m)
{
    if (!list)
        return nullptr;
    m = kept_capacity(m, list->nitems);
    list->item = static_cast<unsigned long *>(resize_array(list->item, m, sizeof(unsigned long)));
    list->maxitems = m;
    return list;
}

void display_unum_prodlist(const ProdUNumList *list)
{
    if (!show_list_head(list, list ? list->nitems : 0))
        return;
    for (int i = 0; i < list->nitems; i++)
        std::printf("Item %3d: %lu\n", i + 1, list->item[i]);
}

void clear_unum_prodlist(ProdUNumList *list)
{
    if (list)
        list->nitems = 0;
}

void free_unum_prodlist(ProdUNumList *list)
{
    if (!list)
        return;
    std::free(list->item);
    std::free(list);
}

// --- ProdANumList ---

ProdANumList *create_anum_prodlist(int nitems)
{
    auto *list = static_cast<ProdANumList *>(std::malloc(sizeof(ProdANumList)));
    if (!list)
        return nullptr;
    list->num = static_cast<long *>(new_array(nitems, sizeof(long)));
    list->alpha = static_cast<char **>(new_array(nitems, sizeof(char *)));
    if (nitems > 0 && (!list->num || !list->alpha)) {
        std::free(list->num);
        std::free(list->alpha);
        std::free(list);
        return nullptr;
    }
    list->nitems = 0;
    list->maxitems = nitems;
    list->delta = initial_delta(nitems);
    return list;
}

int resize_anum_prodlist(ProdANumList *list, int m)
{
    if (!list)
        return 0;
    if (m < list->nitems) {
        std::fprintf(stderr, "Attempting to shrink ProdANumList from %d to %d\n", list->nitems, m);
        return 0;
    }
    list->num = static_cast<long *>(resize_array(list->num, m, sizeof(long)));
    list->alpha = static_cast<char **>(resize_array(list->alpha, m, sizeof(char *)));
    list->maxitems = m;
    return 1;
}

void display_anum_prodlist(const ProdANumList *list)
{
    if (!show_list_head(list, list ? list->nitems : 0))
        return;
    for (int i = 0; i < list->nitems; i++)
        std::printf("Item %3d: %ld\t%s\n", i + 1, list->num[i], shown(list->alpha[i]));
}

void clear_anum_prodlist(ProdANumList *list)
{
    if (!list)
        return;
    for (int i = 0; i < list->nitems; i++)
        std::free(list->alpha[i]);
    list->nitems = 0;
}

void free_anum_prodlist(ProdANumList *list)
{
    if (!list)
        return;
    clear_anum_prodlist(list);
    std::free(list->num);
    std::free(list->alpha);
    std::free(list);
}

// An exchange sort: always nitems passes, so equal strings never trade places.
void sort_anum_prodlist(ProdANumList *list)
{
    if (!list)
        return;
    for (int pass = 0; pass < list->nitems; pass++) {
        for (int j = list->nitems - 1; j >= 1; j--) {
            if (compare_strings(list->alpha[j], list->alpha[j - 1]) >= 0)
                continue;
            std::swap(list->alpha[j], list->alpha[j - 1]);
            std::swap(list->num[j], list->num[j - 1]);
        }
    }
}

// --- ProdPtrList ---

ProdPtrList *create_ptr_prodlist(int nitems)
{
    auto *list = static_cast<ProdPtrList *>(std::malloc(sizeof(ProdPtrList)));
    if (!list)
        return nullptr;
    list->item = static_cast<void **>(new_array(nitems, sizeof(void *)));
    if (nitems > 0 && !list->item) {
        std::free(list);
        return nullptr;
    }
    list->nitems = 0;
    list->maxitems = nitems;
    list->delta = initial_delta(nitems);
    return list;
}

ProdPtrList *resize_ptr_prodlist(ProdPtrList *list, int m)
{
    if (!list)
        return nullptr;
    m = kept_capacity(m, list->nitems);
    list->item = static_cast<void **>(resize_array(list->item, m, sizeof(void *)));
    list->maxitems = m;
    return list;
}

void display_ptr_prodlist(const ProdPtrList *list)
{
    if (!show_list_head(list, list ? list->nitems : 0))
        return;
    for (int i = 0; i < list->nitems; i++)
        std::printf("Item %3d: %lx\n", i + 1, pointer_bits(list->item[i]));
}

void clear_ptr_prodlist(ProdPtrList *list)
{
    if (!list)
        return;
    for (int i = 0; i < list->nitems; i++)
        std::free(list->item[i]);
    list->nitems = 0;
}

void free_ptr_prodlist(ProdPtrList *list)
{
    if (!list)
        return;
    clear_ptr_prodlist(list);
    std::free(list->item);
    std::free(list);
}

// Narrows [*low, *high] by halving until at most 11 elements remain. Returns the slot of an
// element equal to ent when a probe hits one, else -1.
static int halve_ptr_window(const ProdPtrList *list, const void *ent, prodlist_cmp cmp, int *low,
                            int *high)
{
    while (*high - *low > 10) {
        int mid = *low + (*high - *low) / 2;
        int order = cmp(ent, list->item[mid]);
        if (order == 0)
            return mid;
        if (order > 0)
            *low = mid;
        else
            *high = mid;
    }
    return -1;
}

int bsearch_ptr_prodlist(const ProdPtrList *list, const void *ent, prodlist_cmp cmp)
{
    if (!list || !cmp)
        return -1;
    int low = 0;
    int high = list->nitems - 1;
    int hit = halve_ptr_window(list, ent, cmp, &low, &high);
    if (hit >= 0)
        return hit;
    for (int i = low; i <= high; i++) {
        int order = cmp(ent, list->item[i]);
        if (order == 0)
            return i;
        if (order < 0)
            return -1;
    }
    return -1;
}

// Returns the slot before which ent belongs: the first element greater than it.
static int ptr_insertion_slot(const ProdPtrList *list, const void *ent, prodlist_cmp cmp)
{
    int low = 0;
    int high = list->nitems - 1;
    halve_ptr_window(list, ent, cmp, &low, &high);
    int slot = low;
    while (slot <= high && cmp(list->item[slot], ent) < 0)
        slot++;
    return slot;
}

static void grow_ptr_prodlist(ProdPtrList *list)
{
    resize_ptr_prodlist(list, grown_capacity(list->maxitems, list->delta, list->nitems));
}

void *bupdate_ptr_prodlist(ProdPtrList *list, void *ent, prodlist_cmp cmp)
{
    if (!list || !ent || !cmp)
        return nullptr;
    int found = bsearch_ptr_prodlist(list, ent, cmp);
    if (found >= 0) {
        void *old = list->item[found];
        list->item[found] = ent;
        return old;
    }
    int slot = ptr_insertion_slot(list, ent, cmp);
    if (list->nitems >= list->maxitems)
        grow_ptr_prodlist(list);
    std::memmove(list->item + slot + 1, list->item + slot,
                 static_cast<size_t>(list->nitems - slot) * sizeof(void *));
    list->item[slot] = ent;
    list->nitems++;
    return nullptr;
}

void add_ptr_prodlist(ProdPtrList *list, void *ent)
{
    if (!list)
        return;
    if (list->nitems >= list->maxitems) {
        if (list->delta <= 0)
            list->delta = 10;
        grow_ptr_prodlist(list);
    }
    list->item[list->nitems++] = ent;
}
