// Growable lists of seven kinds on one frame (nitems, maxitems, delta): strings
// (ProdAlphaList), sorted string keys with untyped items (ProdAPtrList), strings with
// descriptions (ProdList), signed and unsigned numbers, numbers paired with strings, and
// untyped pointers ordered by a caller's comparison. Lists grow by delta slots (never double)
// and own every string, key and item stored in them: each is a separate malloc block,
// released with free on clear and free. A growth or resize that cannot get memory ends the
// process through die_out_of_memory(), so a list is never left half grown. Resizing never goes
// below nitems: a smaller capacity is raised to nitems (ProdANumList refuses instead). A delta
// of 0 or less found when growing counts as 10.
#ifndef PRODLIST_H
#define PRODLIST_H

struct ProdAlphaList {
    int nitems;
    int maxitems;
    int delta;
    char **item;
};

struct ProdAPtrList {
    int nitems;
    int maxitems;
    int delta;
    char **key;
    void **item;
};

struct ProdList {
    int nitems;
    int maxitems;
    int delta;
    char **item;
    char **desc;
};

struct ProdNumList {
    int nitems;
    int maxitems;
    int delta;
    long *item;
};

struct ProdUNumList {
    int nitems;
    int maxitems;
    int delta;
    unsigned long *item;
};

struct ProdANumList {
    int nitems;
    int maxitems;
    int delta;
    long *num;
    char **alpha;
};

struct ProdPtrList {
    int nitems;
    int maxitems;
    int delta;
    void **item;
};

// Comparison of two entries, shaped like qsort's: negative, zero or positive.
typedef int (*prodlist_cmp)(const void *, const void *);

// --- ProdAlphaList ---
// Returns a new empty list with room for nitems strings (no arrays when nitems <= 0), or
// nullptr when memory is short; the caller frees it with free_alpha_prodlist.
ProdAlphaList *create_alpha_prodlist(int nitems);
// Stores str at the end; the list takes ownership. Grows by delta when full.
// A null list stores nothing and str stays the caller's.
void append_alpha_prodlist(ProdAlphaList *list, char *str);
// Stores str by pointer before the first greater item; the list takes ownership.
// If an equal string is already there, nothing is stored and str stays the caller's.
// Grows by 10 when full. Null strings sort first. A null list stores nothing.
void insert_sorted_alpha_prodlist(ProdAlphaList *list, char *str);
// Sets the capacity to m (never below nitems). A null list is passed over.
void resize_alpha_prodlist(ProdAlphaList *list, int m);
// Lists the items on standard output ("display_list: Empty list" for a null list).
// Every display shows a null string as "(null)" and a pointer in full hexadecimal.
void display_alpha_prodlist(const ProdAlphaList *list);
// Releases every string; keeps the capacity. A null list is passed over.
void clear_alpha_prodlist(ProdAlphaList *list);
// Releases the strings, the arrays and the record. A null list is passed over.
void free_alpha_prodlist(ProdAlphaList *list);

// --- ProdAPtrList ---
// Returns a new empty table, or nullptr when memory is short.
ProdAPtrList *create_aptr_prodlist(int nitems);
// Returns the slot whose key equals key, or -1 (also for a null list).
int bsearch_aptr_prodlist(const ProdAPtrList *list, const char *key);
// Inserts (key, ent) at its sorted place and returns nullptr; the list takes ownership of
// both. When key is present, ent replaces the old item, which is returned to the caller;
// the stored key stays and the passed key remains the caller's. A null list or key: nullptr.
void *bupdate_aptr_prodlist(ProdAPtrList *list, char *key, void *ent);
// Sets the capacity to m (never below nitems); returns the list, nullptr for a null list.
ProdAPtrList *resize_aptr_prodlist(ProdAPtrList *list, int m);
void display_aptr_prodlist(const ProdAPtrList *list);
// Releases every non-null item and key; keeps the capacity.
void clear_aptr_prodlist(ProdAPtrList *list);
void free_aptr_prodlist(ProdAPtrList *list);

// --- ProdList: users write item/desc slots and nitems directly ---
// The numeric and string-pair kinds below work the same way: resize first when full.
ProdList *create_prodlist(int nitems);
ProdList *resize_prodlist(ProdList *list, int m);
void display_prodlist(const ProdList *list);
void clear_prodlist(ProdList *list);
void free_prodlist(ProdList *list);

// --- ProdNumList ---
ProdNumList *create_num_prodlist(int nitems);
ProdNumList *resize_num_prodlist(ProdNumList *list, int m);
void display_num_prodlist(const ProdNumList *list);
// Sets nitems to 0; the values are not owned. A null list is passed over.
void clear_num_prodlist(ProdNumList *list);
void free_num_prodlist(ProdNumList *list);

// --- ProdUNumList ---
ProdUNumList *create_unum_prodlist(int nitems);
ProdUNumList *resize_unum_prodlist(ProdUNumList *list, int m);
void display_unum_prodlist(const ProdUNumList *list);
void clear_unum_prodlist(ProdUNumList *list);
void free_unum_prodlist(ProdUNumList *list);

// --- ProdANumList ---
ProdANumList *create_anum_prodlist(int nitems);
// Returns 1 when resized, 0 (with a message on standard error) when m < nitems, 0 for a
// null list.
int resize_anum_prodlist(ProdANumList *list, int m);
void display_anum_prodlist(const ProdANumList *list);
void clear_anum_prodlist(ProdANumList *list);
void free_anum_prodlist(ProdANumList *list);
// Orders the pairs by their strings in byte order, stably (a quadratic exchange sort).
// A null list is passed over.
void sort_anum_prodlist(ProdANumList *list);

// --- ProdPtrList ---
ProdPtrList *create_ptr_prodlist(int nitems);
ProdPtrList *resize_ptr_prodlist(ProdPtrList *list, int m);
void display_ptr_prodlist(const ProdPtrList *list);
void clear_ptr_prodlist(ProdPtrList *list);
void free_ptr_prodlist(ProdPtrList *list);
// Returns the slot of the entry comparing equal to ent, or -1 (also for a null list or cmp).
int bsearch_ptr_prodlist(const ProdPtrList *list, const void *ent, prodlist_cmp cmp);
// Inserts ent in order and returns nullptr, or replaces an equal entry and returns it
// (the caller owns it from then on). The list takes ownership of ent. A null list, ent or cmp
// gives nullptr and changes nothing.
void *bupdate_ptr_prodlist(ProdPtrList *list, void *ent, prodlist_cmp cmp);
// Stores ent at the end, unordered; the list takes ownership. A full list with a delta of 0
// or less first sets delta to 10. A null list stores nothing (ent stays the caller's).
void add_ptr_prodlist(ProdPtrList *list, void *ent);

#endif
