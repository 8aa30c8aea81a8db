#include "support/prodlist.h"

#include "support/util.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

// Every kind is the frame (nitems, maxitems, delta) followed by one or two arrays of equal
// capacity, so each step is written once below as a template over the record type; a kind
// names its arrays by pointers to members, in the order they are allocated or released.
namespace {

int initial_delta(int nitems)
{
    return nitems > 0 ? nitems : 10;
}

// Capacity after one growth step. A step of 0 or less (delta is a public field) counts as 10,
// and the result always leaves room for one more item, so a full list can never overflow.
int grown_capacity(int maxitems, int step, int nitems)
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
int kept_capacity(int m, int nitems)
{
    return m < nitems ? nitems : m;
}

// Byte-wise order of two strings; a null string sorts before every string.
int compare_strings(const char *a, const char *b)
{
    if (!a || !b)
        return (a != nullptr) - (b != nullptr);
    return std::strcmp(a, b);
}

const char *shown(const char *s)
{
    return s ? s : "(null)";
}

// Pointers are shown in full hexadecimal, whatever their width.
unsigned long pointer_bits(const void *p)
{
    return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(p));
}

// Returns a new list with n slots in each array (no arrays when n <= 0), or nullptr with
// nothing left allocated.
template <class L, class... T> L *create_list(int n, T *L::*...arrays)
{
    auto *list = static_cast<L *>(std::malloc(sizeof(L)));
    if (!list)
        return nullptr;
    size_t slots = n > 0 ? static_cast<size_t>(n) : 0;
    ((list->*arrays = slots ? static_cast<T *>(std::malloc(slots * sizeof(T))) : nullptr), ...);
    if (slots && !((list->*arrays != nullptr) && ...)) {
        (std::free(list->*arrays), ...);
        std::free(list);
        return nullptr;
    }
    list->nitems = 0;
    list->maxitems = n;
    list->delta = initial_delta(n);
    return list;
}

// Sets every array to m slots (allocating those that do not exist yet) and maxitems to m;
// dies when memory is short.
template <class L, class... T> void set_capacity(L *list, int m, T *L::*...arrays)
{
    size_t bytes = static_cast<size_t>(m > 0 ? m : 1);
    ((list->*arrays = static_cast<T *>(xrealloc(list->*arrays, bytes * sizeof(T)))), ...);
    list->maxitems = m;
}

// The resize of every kind but ProdANumList: never below nitems; a null list is passed over.
template <class L, class... T> L *resize_list(L *list, int m, T *L::*...arrays)
{
    if (list)
        set_capacity(list, kept_capacity(m, list->nitems), arrays...);
    return list;
}

// Opens slot (0 to nitems) in every array for an entry the caller then stores: grows the list
// by step when it is full, moves the entries from slot on up by one and counts the new one.
template <class L, class... T> void open_slot(L *list, int slot, int step, T *L::*...arrays)
{
    if (list->nitems >= list->maxitems)
        set_capacity(list, grown_capacity(list->maxitems, step, list->nitems), arrays...);
    size_t tail = static_cast<size_t>(list->nitems - slot);
    (std::memmove(list->*arrays + slot + 1, list->*arrays + slot, tail * sizeof(T)), ...);
    list->nitems++;
}

// Writes the count line, then show_item(i) for every slot; a null list gets a line of its own.
template <class L, class Show> void display_list(const L *list, Show show_item)
{
    if (!list) {
        std::fputs("display_list: Empty list\n", stdout);
        return;
    }
    std::printf("%d Items in list:\n", list->nitems);
    for (int i = 0; i < list->nitems; i++)
        show_item(i);
}

// Releases the non-null entries of the owned arrays, slot by slot; keeps the capacity.
template <class L, class... T> void clear_list(L *list, T *L::*...owned)
{
    if (!list)
        return;
    for (int i = 0; i < list->nitems; i++)
        (std::free((list->*owned)[i]), ...);
    list->nitems = 0;
}

// Releases the arrays and the record (the entries are the kind's clear's business).
template <class L, class... T> void free_list(L *list, T *L::*...arrays)
{
    if (!list)
        return;
    (std::free(list->*arrays), ...);
    std::free(list);
}

// What halving leaves of slots 0 to nitems-1: the window low..high to scan, and the probed
// slot found equal to the sought entry (hit), else -1.
struct Window {
    int low;
    int high;
    int hit;
};

// Halves the window while it holds 12 or more slots; order(i) compares the sought entry with
// slot i. The probed slot stays inside the window.
template <class Order> Window halve_window(int nitems, Order order)
{
    Window w{0, nitems - 1, -1};
    while (w.high - w.low > 10) {
        int mid = w.low + (w.high - w.low) / 2;
        int cmp = order(mid);
        if (cmp == 0) {
            w.hit = mid;
            break;
        }
        (cmp > 0 ? w.low : w.high) = mid;
    }
    return w;
}

// Returns the slot order(i) finds equal, or -1: halving, then a scan of the window. The
// pointer list's scan ends at the first greater entry (stop_past); the keyed table's reads
// the whole window.
template <class Order> int search_slots(int nitems, Order order, bool stop_past)
{
    Window w = halve_window(nitems, order);
    if (w.hit >= 0)
        return w.hit;
    for (int i = w.low; i <= w.high; i++) {
        int cmp = order(i);
        if (cmp == 0)
            return i;
        if (cmp < 0 && stop_past)
            return -1;
    }
    return -1;
}

// The first slot of the window whose entry does not sort below the sought one, high + 1 when
// none; stored(i) compares slot i with the sought entry, the stored one first.
template <class Stored> int first_not_below(Window w, Stored stored)
{
    int slot = w.low;
    while (slot <= w.high && stored(slot) < 0)
        slot++;
    return slot;
}

} // namespace

// --- ProdAlphaList ---

ProdAlphaList *create_alpha_prodlist(int nitems)
{
    return create_list(nitems, &ProdAlphaList::item);
}

void append_alpha_prodlist(ProdAlphaList *list, char *str)
{
    if (!list)
        return;
    open_slot(list, list->nitems, list->delta, &ProdAlphaList::item);
    list->item[list->nitems - 1] = str;
}

void insert_sorted_alpha_prodlist(ProdAlphaList *list, char *str)
{
    if (!list)
        return;
    auto stored = [list, str](int i) { return compare_strings(list->item[i], str); };
    int slot = first_not_below(Window{0, list->nitems - 1, -1}, stored);
    if (slot < list->nitems && stored(slot) == 0)
        return; // already there: str stays the caller's
    open_slot(list, slot, 10, &ProdAlphaList::item);
    list->item[slot] = str;
}

void resize_alpha_prodlist(ProdAlphaList *list, int m)
{
    resize_list(list, m, &ProdAlphaList::item);
}

void display_alpha_prodlist(const ProdAlphaList *list)
{
    display_list(list,
                 [list](int i) { std::printf("Item %3d: %s\n", i + 1, shown(list->item[i])); });
}

void clear_alpha_prodlist(ProdAlphaList *list)
{
    clear_list(list, &ProdAlphaList::item);
}

void free_alpha_prodlist(ProdAlphaList *list)
{
    clear_alpha_prodlist(list);
    free_list(list, &ProdAlphaList::item);
}

// --- ProdAPtrList ---

ProdAPtrList *create_aptr_prodlist(int nitems)
{
    return create_list(nitems, &ProdAPtrList::key, &ProdAPtrList::item);
}

int bsearch_aptr_prodlist(const ProdAPtrList *list, const char *key)
{
    if (!list)
        return -1;
    auto order = [list, key](int i) { return compare_strings(key, list->key[i]); };
    return search_slots(list->nitems, order, false);
}

void *bupdate_aptr_prodlist(ProdAPtrList *list, char *key, void *ent)
{
    if (!list || !key)
        return nullptr;
    auto order = [list, key](int i) { return compare_strings(key, list->key[i]); };
    auto stored = [list, key](int i) { return compare_strings(list->key[i], key); };
    Window w = halve_window(list->nitems, order);
    int slot = w.hit >= 0 ? w.hit : first_not_below(w, stored);
    if (slot == w.hit || (slot <= w.high && stored(slot) == 0))
        return std::exchange(list->item[slot], ent); // the stored key stays
    open_slot(list, slot, list->delta, &ProdAPtrList::item, &ProdAPtrList::key);
    list->item[slot] = ent;
    list->key[slot] = key;
    return nullptr;
}

ProdAPtrList *resize_aptr_prodlist(ProdAPtrList *list, int m)
{
    return resize_list(list, m, &ProdAPtrList::item, &ProdAPtrList::key);
}

void display_aptr_prodlist(const ProdAPtrList *list)
{
    display_list(list, [list](int i) {
        std::printf("Item %3d: (%s) %lx\n", i + 1, shown(list->key[i]),
                    pointer_bits(list->item[i]));
    });
}

void clear_aptr_prodlist(ProdAPtrList *list)
{
    clear_list(list, &ProdAPtrList::item, &ProdAPtrList::key);
}

void free_aptr_prodlist(ProdAPtrList *list)
{
    clear_aptr_prodlist(list);
    free_list(list, &ProdAPtrList::item, &ProdAPtrList::key);
}

// --- ProdList ---

ProdList *create_prodlist(int nitems)
{
    return create_list(nitems, &ProdList::item, &ProdList::desc);
}

ProdList *resize_prodlist(ProdList *list, int m)
{
    return resize_list(list, m, &ProdList::item, &ProdList::desc);
}

void display_prodlist(const ProdList *list)
{
    display_list(list, [list](int i) {
        std::printf("Item %3d: %s\t%s\n", i + 1, shown(list->item[i]), shown(list->desc[i]));
    });
}

void clear_prodlist(ProdList *list)
{
    clear_list(list, &ProdList::item, &ProdList::desc);
}

void free_prodlist(ProdList *list)
{
    clear_prodlist(list);
    free_list(list, &ProdList::item, &ProdList::desc);
}

// --- ProdNumList and ProdUNumList: the same but for the type; the values are not owned ---

ProdNumList *create_num_prodlist(int nitems)
{
    return create_list(nitems, &ProdNumList::item);
}

ProdUNumList *create_unum_prodlist(int nitems)
{
    return create_list(nitems, &ProdUNumList::item);
}

ProdNumList *resize_num_prodlist(ProdNumList *list, int m)
{
    return resize_list(list, m, &ProdNumList::item);
}

ProdUNumList *resize_unum_prodlist(ProdUNumList *list, int m)
{
    return resize_list(list, m, &ProdUNumList::item);
}

void display_num_prodlist(const ProdNumList *list)
{
    display_list(list, [list](int i) { std::printf("Item %3d: %ld\n", i + 1, list->item[i]); });
}

void display_unum_prodlist(const ProdUNumList *list)
{
    display_list(list, [list](int i) { std::printf("Item %3d: %lu\n", i + 1, list->item[i]); });
}

void clear_num_prodlist(ProdNumList *list)
{
    clear_list(list);
}

void clear_unum_prodlist(ProdUNumList *list)
{
    clear_list(list);
}

void free_num_prodlist(ProdNumList *list)
{
    free_list(list, &ProdNumList::item);
}

void free_unum_prodlist(ProdUNumList *list)
{
    free_list(list, &ProdUNumList::item);
}

// --- ProdANumList ---

ProdANumList *create_anum_prodlist(int nitems)
{
    return create_list(nitems, &ProdANumList::num, &ProdANumList::alpha);
}

int resize_anum_prodlist(ProdANumList *list, int m)
{
    if (!list)
        return 0;
    if (m < list->nitems) {
        std::fprintf(stderr, "Attempting to shrink ProdANumList from %d to %d\n", list->nitems, m);
        return 0;
    }
    set_capacity(list, m, &ProdANumList::num, &ProdANumList::alpha);
    return 1;
}

void display_anum_prodlist(const ProdANumList *list)
{
    display_list(list, [list](int i) {
        std::printf("Item %3d: %ld\t%s\n", i + 1, list->num[i], shown(list->alpha[i]));
    });
}

void clear_anum_prodlist(ProdANumList *list)
{
    clear_list(list, &ProdANumList::alpha);
}

void free_anum_prodlist(ProdANumList *list)
{
    clear_anum_prodlist(list);
    free_list(list, &ProdANumList::num, &ProdANumList::alpha);
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
    return create_list(nitems, &ProdPtrList::item);
}

ProdPtrList *resize_ptr_prodlist(ProdPtrList *list, int m)
{
    return resize_list(list, m, &ProdPtrList::item);
}

void display_ptr_prodlist(const ProdPtrList *list)
{
    display_list(list, [list](int i) {
        std::printf("Item %3d: %lx\n", i + 1, pointer_bits(list->item[i]));
    });
}

void clear_ptr_prodlist(ProdPtrList *list)
{
    clear_list(list, &ProdPtrList::item);
}

void free_ptr_prodlist(ProdPtrList *list)
{
    clear_ptr_prodlist(list);
    free_list(list, &ProdPtrList::item);
}

int bsearch_ptr_prodlist(const ProdPtrList *list, const void *ent, prodlist_cmp cmp)
{
    if (!list || !cmp)
        return -1;
    return search_slots(
        list->nitems, [&](int i) { return cmp(ent, list->item[i]); }, true);
}

void *bupdate_ptr_prodlist(ProdPtrList *list, void *ent, prodlist_cmp cmp)
{
    if (!list || !ent || !cmp)
        return nullptr;
    int found = bsearch_ptr_prodlist(list, ent, cmp);
    if (found >= 0)
        return std::exchange(list->item[found], ent);
    Window w = halve_window(list->nitems, [&](int i) { return cmp(ent, list->item[i]); });
    int slot = first_not_below(w, [&](int i) { return cmp(list->item[i], ent); });
    open_slot(list, slot, list->delta, &ProdPtrList::item);
    list->item[slot] = ent;
    return nullptr;
}

void add_ptr_prodlist(ProdPtrList *list, void *ent)
{
    if (!list)
        return;
    if (list->nitems >= list->maxitems && list->delta <= 0)
        list->delta = 10; // the change stays in the list
    open_slot(list, list->nitems, list->delta, &ProdPtrList::item);
    list->item[list->nitems - 1] = ent;
}
