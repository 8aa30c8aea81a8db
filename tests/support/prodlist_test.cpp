#include "support/prodlist.h"
#include "support/util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "sanitized.h"

namespace {

using Strings = std::vector<std::string>;
using AlphaGuard = std::unique_ptr<ProdAlphaList, decltype(&free_alpha_prodlist)>;
using AptrGuard = std::unique_ptr<ProdAPtrList, decltype(&free_aptr_prodlist)>;

AlphaGuard new_alpha(int nitems)
{
    return AlphaGuard(create_alpha_prodlist(nitems), &free_alpha_prodlist);
}

AptrGuard new_aptr(int nitems)
{
    return AptrGuard(create_aptr_prodlist(nitems), &free_aptr_prodlist);
}

char *dup(const char *s)
{
    return strdup(s);
}

Strings items_of(const ProdAlphaList *list)
{
    Strings out;
    for (int i = 0; i < list->nitems; i++)
        out.emplace_back(list->item[i] ? list->item[i] : "<null>");
    return out;
}

Strings keys_of(const ProdAPtrList *list)
{
    Strings out;
    for (int i = 0; i < list->nitems; i++)
        out.emplace_back(list->key[i]);
    return out;
}

// Runs show and returns what it wrote on standard output.
std::string stdout_of(const std::function<void()> &show)
{
    testing::internal::CaptureStdout();
    show();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// A pointer wider than 32 bits, stored only to be shown and taken out before the list is freed.
void *const wide_pointer = reinterpret_cast<void *>(static_cast<uintptr_t>(0x7f0012345678ULL));

} // namespace

// --- ProdAlphaList ---

TEST(AlphaCreate, FrameForEachInitialCapacity)
{
    struct {
        int nitems, maxitems, delta;
        bool arrays;
    } cases[] = {{0, 0, 10, false}, {-3, -3, 10, false}, {5, 5, 5, true}, {20, 20, 20, true}};
    for (auto c : cases) {
        AlphaGuard list = new_alpha(c.nitems);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->nitems, 0);
        EXPECT_EQ(list->maxitems, c.maxitems);
        EXPECT_EQ(list->delta, c.delta);
        EXPECT_EQ(list->item != nullptr, c.arrays) << "capacity " << c.nitems;
    }
}

TEST(AlphaAppend, GrowsByDeltaOnlyWhenFull)
{
    AlphaGuard list = new_alpha(5);
    std::vector<int> capacity;
    for (int i = 0; i < 11; i++) {
        append_alpha_prodlist(list.get(), dup(std::to_string(i).c_str()));
        capacity.push_back(list->maxitems);
    }
    EXPECT_EQ(capacity, (std::vector<int>{5, 5, 5, 5, 5, 10, 10, 10, 10, 10, 15}));
    EXPECT_EQ(items_of(list.get()),
              (Strings{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));

    AlphaGuard empty = new_alpha(0);
    append_alpha_prodlist(empty.get(), dup("x"));
    append_alpha_prodlist(empty.get(), dup("x")); // duplicates are kept in arrival order
    EXPECT_EQ(empty->maxitems, 10);
    EXPECT_EQ(items_of(empty.get()), (Strings{"x", "x"}));

    AlphaGuard negative = new_alpha(-25);
    append_alpha_prodlist(negative.get(), dup("y")); // never a capacity without room
    EXPECT_GE(negative->maxitems, 1);
    EXPECT_EQ(items_of(negative.get()), (Strings{"y"}));
}

TEST(AlphaAppend, DeltaSetByUserIsUsedAndZeroDeltaStillGrows)
{
    AlphaGuard list = new_alpha(2);
    list->delta = 500;
    for (const char *s : {"a", "b", "c"})
        append_alpha_prodlist(list.get(), dup(s));
    EXPECT_EQ(list->maxitems, 502);

    AlphaGuard stuck = new_alpha(1);
    stuck->delta = 0;
    append_alpha_prodlist(stuck.get(), dup("a"));
    append_alpha_prodlist(stuck.get(), dup("b"));
    EXPECT_EQ(stuck->maxitems, 11);
    EXPECT_EQ(items_of(stuck.get()), (Strings{"a", "b"}));
}

TEST(AlphaInsertSorted, ByteOrderAndDuplicateStaysWithCaller)
{
    AlphaGuard list = new_alpha(3);
    list->delta = 100; // sorted insertion grows by a fixed 10 whatever delta says
    for (const char *s : {"b", "a", "B"})
        insert_sorted_alpha_prodlist(list.get(), dup(s));
    EXPECT_EQ(list->maxitems, 3);
    char *again = dup("a");
    insert_sorted_alpha_prodlist(list.get(), again);
    EXPECT_EQ(items_of(list.get()), (Strings{"B", "a", "b"}));
    EXPECT_NE(list->item[1], again);
    EXPECT_EQ(list->maxitems, 3); // a refused duplicate does not grow a full list
    free(again);                  // still ours: the list did not take it

    insert_sorted_alpha_prodlist(list.get(), dup("ab"));
    EXPECT_EQ(list->maxitems, 13);
    insert_sorted_alpha_prodlist(list.get(), dup("\xe9t\xe9")); // bytes compare unsigned
    insert_sorted_alpha_prodlist(list.get(), dup(""));
    EXPECT_EQ(items_of(list.get()), (Strings{"", "B", "a", "ab", "b", "\xe9t\xe9"}));
}

TEST(AlphaInsertSorted, NullStringSortsFirst)
{
    AlphaGuard list = new_alpha(2);
    insert_sorted_alpha_prodlist(list.get(), dup("b"));
    insert_sorted_alpha_prodlist(list.get(), nullptr);
    insert_sorted_alpha_prodlist(list.get(), dup("a"));
    insert_sorted_alpha_prodlist(list.get(), nullptr); // equal to the stored null: not added
    EXPECT_EQ(items_of(list.get()), (Strings{"<null>", "a", "b"}));
}

TEST(AlphaInsertSorted, UnsortedListGetsStringBeforeFirstGreater)
{
    AlphaGuard list = new_alpha(0);
    for (const char *s : {"m", "c", "x"})
        append_alpha_prodlist(list.get(), dup(s));
    insert_sorted_alpha_prodlist(list.get(), dup("d"));
    EXPECT_EQ(items_of(list.get()), (Strings{"d", "m", "c", "x"}));
    insert_sorted_alpha_prodlist(list.get(), dup("n"));
    EXPECT_EQ(items_of(list.get()), (Strings{"d", "m", "c", "n", "x"}));
}

TEST(AlphaResize, KeepsItemsAndNeverDropsThem)
{
    AlphaGuard list = new_alpha(2);
    append_alpha_prodlist(list.get(), dup("a"));
    append_alpha_prodlist(list.get(), dup("b"));
    resize_alpha_prodlist(list.get(), 40);
    EXPECT_EQ(list->maxitems, 40);
    EXPECT_EQ(list->nitems, 2);
    resize_alpha_prodlist(list.get(), 1); // below nitems: the items are kept
    EXPECT_EQ(list->maxitems, 2);
    EXPECT_EQ(items_of(list.get()), (Strings{"a", "b"}));

    AlphaGuard none = new_alpha(0);
    resize_alpha_prodlist(none.get(), 7);
    ASSERT_NE(none->item, nullptr);
    EXPECT_EQ(none->maxitems, 7);
}

TEST(AlphaDisplay, CountLineAndNumberedItems)
{
    EXPECT_EQ(stdout_of([] { display_alpha_prodlist(nullptr); }), "display_list: Empty list\n");
    AlphaGuard list = new_alpha(0);
    EXPECT_EQ(stdout_of([&] { display_alpha_prodlist(list.get()); }), "0 Items in list:\n");
    append_alpha_prodlist(list.get(), dup("one"));
    EXPECT_EQ(stdout_of([&] { display_alpha_prodlist(list.get()); }),
              "1 Items in list:\nItem   1: one\n");
    for (int i = 2; i <= 1000; i++)
        append_alpha_prodlist(list.get(), dup("n"));
    std::string out = stdout_of([&] { display_alpha_prodlist(list.get()); });
    EXPECT_NE(out.find("\nItem  10: n\nItem  11: n\n"), std::string::npos);
    EXPECT_NE(out.find("\nItem 1000: n\n"), std::string::npos);
}

TEST(AlphaClear, ReleasesStringsKeepsCapacityAndSkipsNulls)
{
    AlphaGuard list = new_alpha(4);
    append_alpha_prodlist(list.get(), dup("a"));
    append_alpha_prodlist(list.get(), nullptr);
    append_alpha_prodlist(list.get(), dup("c"));
    EXPECT_EQ(stdout_of([&] { display_alpha_prodlist(list.get()); }),
              "3 Items in list:\nItem   1: a\nItem   2: (null)\nItem   3: c\n");
    clear_alpha_prodlist(list.get());
    EXPECT_EQ(list->nitems, 0);
    EXPECT_EQ(list->maxitems, 4);
    EXPECT_NE(list->item, nullptr);
    append_alpha_prodlist(list.get(), dup("again"));
    EXPECT_EQ(items_of(list.get()), (Strings{"again"}));
}

// --- ProdAPtrList ---

TEST(AptrSearch, FindsEveryKeyInWindowsBelowAndAboveEleven)
{
    EXPECT_EQ(bsearch_aptr_prodlist(nullptr, "x"), -1);
    for (int count : {0, 1, 2, 11, 12, 13, 100}) {
        AptrGuard list = new_aptr(0);
        // Keys k000, k002, ... inserted in a scrambled order; odd numbers are the gaps.
        for (int i = 0; i < count; i++) {
            int n = (i * 37) % count;
            char key[16];
            std::snprintf(key, sizeof key, "k%03d", 2 * n);
            EXPECT_EQ(bupdate_aptr_prodlist(list.get(), dup(key), dup(key)), nullptr);
        }
        ASSERT_EQ(list->nitems, count);
        for (int n = 0; n < count; n++) {
            char key[16];
            std::snprintf(key, sizeof key, "k%03d", 2 * n);
            EXPECT_EQ(bsearch_aptr_prodlist(list.get(), key), n) << key << " of " << count;
            EXPECT_STREQ(static_cast<char *>(list->item[n]), key);
            std::snprintf(key, sizeof key, "k%03d", 2 * n + 1);
            EXPECT_EQ(bsearch_aptr_prodlist(list.get(), key), -1) << key;
        }
        EXPECT_EQ(bsearch_aptr_prodlist(list.get(), "a"), -1);
        EXPECT_EQ(bsearch_aptr_prodlist(list.get(), "z"), -1);
        EXPECT_EQ(bsearch_aptr_prodlist(list.get(), ""), -1);
        Strings keys = keys_of(list.get());
        EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
    }
}

TEST(AptrUpdate, ReplacingReturnsOldItemAndKeepsStoredKey)
{
    AptrGuard list = new_aptr(0);
    char *first = dup("one");
    EXPECT_EQ(bupdate_aptr_prodlist(list.get(), dup("k"), first), nullptr);
    char *stored_key = list->key[0];
    char *again = dup("k");
    char *second = dup("two");
    EXPECT_EQ(bupdate_aptr_prodlist(list.get(), again, second), first);
    EXPECT_EQ(list->nitems, 1);
    EXPECT_EQ(list->key[0], stored_key);
    EXPECT_EQ(list->item[0], second);
    free(first); // handed back to us
    free(again); // never stored

    // Replacing a null item also returns null: only nitems tells it from an insertion.
    EXPECT_EQ(bupdate_aptr_prodlist(list.get(), dup("blank"), nullptr), nullptr);
    char *blank_again = dup("blank");
    EXPECT_EQ(bupdate_aptr_prodlist(list.get(), blank_again, dup("v")), nullptr);
    free(blank_again);
    EXPECT_EQ(list->nitems, 2);
}

TEST(AptrUpdate, ReplacesFoundByHalvingAndByScan)
{
    AptrGuard list = new_aptr(0);
    for (int i = 0; i < 60; i++)
        bupdate_aptr_prodlist(list.get(), dup(std::to_string(100 + i).c_str()), nullptr);
    for (int i = 0; i < 60; i++) {
        char *key = dup(std::to_string(100 + i).c_str());
        char *item = dup("v");
        EXPECT_EQ(bupdate_aptr_prodlist(list.get(), key, item), nullptr);
        EXPECT_NE(list->key[i], key);
        EXPECT_EQ(list->item[i], item);
        free(key);
    }
    EXPECT_EQ(list->nitems, 60);
}

TEST(AptrUpdate, GrowsByDeltaAndRefusesNullListOrKey)
{
    AptrGuard list = new_aptr(2);
    list->delta = 500;
    for (const char *k : {"c", "a", "b"})
        bupdate_aptr_prodlist(list.get(), dup(k), nullptr);
    EXPECT_EQ(list->maxitems, 502);
    EXPECT_EQ(keys_of(list.get()), (Strings{"a", "b", "c"}));

    char *item = dup("kept");
    EXPECT_EQ(bupdate_aptr_prodlist(list.get(), nullptr, item), nullptr);
    EXPECT_EQ(bupdate_aptr_prodlist(nullptr, const_cast<char *>("k"), item), nullptr);
    EXPECT_EQ(list->nitems, 3);
    free(item);

    AptrGuard zero = new_aptr(0);
    bupdate_aptr_prodlist(zero.get(), dup("only"), nullptr);
    EXPECT_EQ(zero->maxitems, 10);
    EXPECT_EQ(bsearch_aptr_prodlist(zero.get(), "only"), 0);
}

TEST(AptrDisplay, KeyInParenthesesAndFullPointer)
{
    EXPECT_EQ(stdout_of([] { display_aptr_prodlist(nullptr); }), "display_list: Empty list\n");
    AptrGuard list = new_aptr(0);
    EXPECT_EQ(stdout_of([&] { display_aptr_prodlist(list.get()); }), "0 Items in list:\n");
    if (sizeof(void *) < 8)
        GTEST_SKIP() << "the shown pointer needs 64-bit pointers";
    bupdate_aptr_prodlist(list.get(), dup("name"), nullptr);
    bupdate_aptr_prodlist(list.get(), dup("blank"), nullptr);
    list->item[1] = wide_pointer;
    std::string out = stdout_of([&] { display_aptr_prodlist(list.get()); });
    list->item[1] = nullptr;
    EXPECT_EQ(out, "2 Items in list:\nItem   1: (blank) 0\nItem   2: (name) 7f0012345678\n");
}

// --- The other kinds ---

namespace {

using ListGuard = std::unique_ptr<ProdList, decltype(&free_prodlist)>;
using NumGuard = std::unique_ptr<ProdNumList, decltype(&free_num_prodlist)>;
using UNumGuard = std::unique_ptr<ProdUNumList, decltype(&free_unum_prodlist)>;
using ANumGuard = std::unique_ptr<ProdANumList, decltype(&free_anum_prodlist)>;
using PtrGuard = std::unique_ptr<ProdPtrList, decltype(&free_ptr_prodlist)>;

int compare_ints(const void *a, const void *b)
{
    int x = *static_cast<const int *>(a);
    int y = *static_cast<const int *>(b);
    return (x > y) - (x < y);
}

int *new_int(int value)
{
    int *p = static_cast<int *>(malloc(sizeof(int)));
    *p = value;
    return p;
}

std::vector<int> ints_of(const ProdPtrList *list)
{
    std::vector<int> out;
    for (int i = 0; i < list->nitems; i++)
        out.push_back(*static_cast<int *>(list->item[i]));
    return out;
}

void add_pair(ProdANumList *list, long num, const char *alpha)
{
    if (list->nitems >= list->maxitems) {
        ASSERT_EQ(resize_anum_prodlist(list, list->maxitems + list->delta), 1);
    }
    list->num[list->nitems] = num;
    list->alpha[list->nitems] = dup(alpha);
    list->nitems++;
}

std::string pairs_of(const ProdANumList *list)
{
    std::string out;
    for (int i = 0; i < list->nitems; i++)
        out += strprintf("(%ld,%s)", list->num[i], list->alpha[i]);
    return out;
}

} // namespace

TEST(OtherCreate, FrameAndArraysForEachKind)
{
    ListGuard list(create_prodlist(0), &free_prodlist);
    NumGuard num(create_num_prodlist(-1), &free_num_prodlist);
    UNumGuard unum(create_unum_prodlist(7), &free_unum_prodlist);
    ANumGuard anum(create_anum_prodlist(3), &free_anum_prodlist);
    PtrGuard ptr(create_ptr_prodlist(20), &free_ptr_prodlist);
    ASSERT_TRUE(list && num && unum && anum && ptr);
    EXPECT_TRUE(list->item == nullptr && list->desc == nullptr);
    EXPECT_EQ(list->delta, 10);
    EXPECT_EQ(num->item, nullptr);
    EXPECT_EQ(num->maxitems, -1);
    EXPECT_EQ(num->delta, 10);
    EXPECT_NE(unum->item, nullptr);
    EXPECT_EQ(unum->delta, 7);
    EXPECT_TRUE(anum->num != nullptr && anum->alpha != nullptr);
    EXPECT_EQ(anum->maxitems, 3);
    EXPECT_EQ(ptr->delta, 20);
    EXPECT_EQ(ptr->nitems + list->nitems + num->nitems + unum->nitems + anum->nitems, 0);
}

TEST(OtherResize, SetsCapacityAndKeepsSlots)
{
    AptrGuard aptr = new_aptr(1);
    bupdate_aptr_prodlist(aptr.get(), dup("k"), dup("v"));
    EXPECT_EQ(resize_aptr_prodlist(aptr.get(), 30), aptr.get());
    EXPECT_EQ(aptr->maxitems, 30);
    EXPECT_STREQ(aptr->key[0], "k");
    EXPECT_STREQ(static_cast<char *>(aptr->item[0]), "v");

    ListGuard list(create_prodlist(4), &free_prodlist);
    list->item[0] = dup("page");
    list->desc[0] = dup("a page");
    list->nitems = 1;
    EXPECT_EQ(resize_prodlist(list.get(), 8), list.get());
    EXPECT_EQ(list->maxitems, 8);
    EXPECT_STREQ(list->desc[0], "a page");

    NumGuard num(create_num_prodlist(0), &free_num_prodlist);
    EXPECT_EQ(resize_num_prodlist(num.get(), 3), num.get());
    num->item[2] = -7;
    UNumGuard unum(create_unum_prodlist(1), &free_unum_prodlist);
    EXPECT_EQ(resize_unum_prodlist(unum.get(), 5), unum.get());
    EXPECT_EQ(unum->maxitems, 5);
    PtrGuard ptr(create_ptr_prodlist(1), &free_ptr_prodlist);
    EXPECT_EQ(resize_ptr_prodlist(ptr.get(), 2), ptr.get());
    EXPECT_EQ(ptr->maxitems, 2);

    EXPECT_EQ(resize_aptr_prodlist(nullptr, 1), nullptr);
    EXPECT_EQ(resize_prodlist(nullptr, 1), nullptr);
    EXPECT_EQ(resize_num_prodlist(nullptr, 1), nullptr);
    EXPECT_EQ(resize_unum_prodlist(nullptr, 1), nullptr);
    EXPECT_EQ(resize_ptr_prodlist(nullptr, 1), nullptr);
}

TEST(ANumResize, RefusesToShrinkBelowItems)
{
    ANumGuard list(create_anum_prodlist(5), &free_anum_prodlist);
    for (int i = 0; i < 5; i++)
        add_pair(list.get(), i, "x");
    testing::internal::CaptureStderr();
    EXPECT_EQ(resize_anum_prodlist(list.get(), 4), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Attempting to shrink ProdANumList from 5 to 4\n");
    EXPECT_EQ(list->maxitems, 5);
    EXPECT_EQ(resize_anum_prodlist(list.get(), 5), 1);
    EXPECT_EQ(list->maxitems, 5);
    EXPECT_EQ(resize_anum_prodlist(list.get(), 9), 1);
    EXPECT_EQ(list->maxitems, 9);
    EXPECT_EQ(pairs_of(list.get()), "(0,x)(1,x)(2,x)(3,x)(4,x)");
}

TEST(ANumSort, ByStringStableUpperCaseFirst)
{
    ANumGuard list(create_anum_prodlist(0), &free_anum_prodlist);
    sort_anum_prodlist(list.get());
    add_pair(list.get(), 9, "only");
    sort_anum_prodlist(list.get());
    EXPECT_EQ(pairs_of(list.get()), "(9,only)");
    clear_anum_prodlist(list.get());

    add_pair(list.get(), 3, "b");
    add_pair(list.get(), 1, "a");
    add_pair(list.get(), 2, "b");
    add_pair(list.get(), 4, "A");
    sort_anum_prodlist(list.get());
    EXPECT_EQ(pairs_of(list.get()), "(4,A)(1,a)(3,b)(2,b)");
}

TEST(OtherDisplay, ItemLinesOfEachKind)
{
    ListGuard list(create_prodlist(1), &free_prodlist);
    list->item[0] = dup("index.html");
    list->desc[0] = dup("Home");
    list->nitems = 1;
    EXPECT_EQ(stdout_of([&] { display_prodlist(list.get()); }),
              "1 Items in list:\nItem   1: index.html\tHome\n");

    NumGuard num(create_num_prodlist(2), &free_num_prodlist);
    num->item[0] = -5;
    num->item[1] = 2147483647L;
    num->nitems = 2;
    EXPECT_EQ(stdout_of([&] { display_num_prodlist(num.get()); }),
              "2 Items in list:\nItem   1: -5\nItem   2: 2147483647\n");

    UNumGuard unum(create_unum_prodlist(1), &free_unum_prodlist);
    unum->item[0] = static_cast<unsigned long>(-1L);
    unum->nitems = 1;
    EXPECT_EQ(stdout_of([&] { display_unum_prodlist(unum.get()); }),
              "1 Items in list:\nItem   1: " + std::to_string(static_cast<unsigned long>(-1L)) +
                  "\n");

    ANumGuard anum(create_anum_prodlist(0), &free_anum_prodlist);
    add_pair(anum.get(), -12, "neg");
    EXPECT_EQ(stdout_of([&] { display_anum_prodlist(anum.get()); }),
              "1 Items in list:\nItem   1: -12\tneg\n");

    PtrGuard ptr(create_ptr_prodlist(0), &free_ptr_prodlist);
    add_ptr_prodlist(ptr.get(), wide_pointer);
    std::string shown = stdout_of([&] { display_ptr_prodlist(ptr.get()); });
    ptr->item[0] = nullptr;
    if (sizeof(void *) >= 8) {
        EXPECT_EQ(shown, "1 Items in list:\nItem   1: 7f0012345678\n");
    }

    std::string nulls = stdout_of([] {
        display_prodlist(nullptr);
        display_num_prodlist(nullptr);
        display_unum_prodlist(nullptr);
        display_anum_prodlist(nullptr);
        display_ptr_prodlist(nullptr);
    });
    std::string once = "display_list: Empty list\n";
    EXPECT_EQ(nulls, once + once + once + once + once);
}

TEST(OtherClear, ReleasesOwnedElementsOnlyAndKeepsCapacity)
{
    AptrGuard aptr = new_aptr(5);
    bupdate_aptr_prodlist(aptr.get(), dup("a"), nullptr);
    bupdate_aptr_prodlist(aptr.get(), dup("b"), dup("item"));
    clear_aptr_prodlist(aptr.get());
    EXPECT_EQ(aptr->nitems, 0);
    EXPECT_EQ(aptr->maxitems, 5);
    EXPECT_EQ(bsearch_aptr_prodlist(aptr.get(), "a"), -1);
    bupdate_aptr_prodlist(aptr.get(), dup("c"), dup("x"));
    EXPECT_EQ(bsearch_aptr_prodlist(aptr.get(), "c"), 0);

    ListGuard list(create_prodlist(3), &free_prodlist);
    list->item[0] = dup("a");
    list->desc[0] = nullptr;
    list->item[1] = nullptr;
    list->desc[1] = dup("b");
    list->nitems = 2;
    clear_prodlist(list.get());
    EXPECT_EQ(list->nitems, 0);
    EXPECT_EQ(list->maxitems, 3);

    NumGuard num(create_num_prodlist(4), &free_num_prodlist);
    num->item[0] = 42;
    num->nitems = 1;
    clear_num_prodlist(num.get());
    EXPECT_EQ(num->nitems, 0);
    EXPECT_EQ(num->maxitems, 4);
    EXPECT_NE(num->item, nullptr);

    PtrGuard ptr(create_ptr_prodlist(2), &free_ptr_prodlist);
    add_ptr_prodlist(ptr.get(), new_int(1));
    add_ptr_prodlist(ptr.get(), nullptr);
    clear_ptr_prodlist(ptr.get());
    EXPECT_EQ(ptr->nitems, 0);
    EXPECT_EQ(ptr->maxitems, 2);
}

namespace {

// Calls every operation that has no result to report a null list with one, then ends the
// process with 0: a missing null check crashes it instead.
[[noreturn]] void pass_null_lists()
{
    char str[] = "x";
    append_alpha_prodlist(nullptr, str);
    insert_sorted_alpha_prodlist(nullptr, str);
    resize_alpha_prodlist(nullptr, 7);
    add_ptr_prodlist(nullptr, str);
    sort_anum_prodlist(nullptr);
    clear_alpha_prodlist(nullptr);
    clear_aptr_prodlist(nullptr);
    clear_prodlist(nullptr);
    clear_num_prodlist(nullptr);
    clear_unum_prodlist(nullptr);
    clear_anum_prodlist(nullptr);
    clear_ptr_prodlist(nullptr);
    free_alpha_prodlist(nullptr);
    free_aptr_prodlist(nullptr);
    free_prodlist(nullptr);
    free_num_prodlist(nullptr);
    free_unum_prodlist(nullptr);
    free_anum_prodlist(nullptr);
    free_ptr_prodlist(nullptr);
    std::exit(0);
}

} // namespace

TEST(NullList, PassedOverSilentlyByEveryOperationWithoutResult)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(pass_null_lists(), testing::ExitedWithCode(0), "^$");
    EXPECT_EQ(resize_anum_prodlist(nullptr, 5), 0);
}

TEST(PtrUpdate, InsertsInOrderAndFindsEveryEntry)
{
    PtrGuard list(create_ptr_prodlist(0), &free_ptr_prodlist);
    int probe = 0;
    EXPECT_EQ(bsearch_ptr_prodlist(list.get(), &probe, compare_ints), -1);
    EXPECT_EQ(bsearch_ptr_prodlist(nullptr, &probe, compare_ints), -1);
    EXPECT_EQ(bupdate_ptr_prodlist(list.get(), new_int(0), compare_ints), nullptr);
    EXPECT_EQ(list->nitems, 1);
    for (int i = 1; i < 100; i++) // 0, 2, ..., 198 in a scrambled order
        EXPECT_EQ(bupdate_ptr_prodlist(list.get(), new_int(2 * ((i * 37) % 100)), compare_ints),
                  nullptr);
    ASSERT_EQ(list->nitems, 100);
    EXPECT_EQ(list->maxitems, 100);
    std::vector<int> values = ints_of(list.get());
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    for (int i = 0; i < 100; i++) {
        probe = 2 * i;
        EXPECT_EQ(bsearch_ptr_prodlist(list.get(), &probe, compare_ints), i);
        probe = 2 * i + 1;
        EXPECT_EQ(bsearch_ptr_prodlist(list.get(), &probe, compare_ints), -1) << probe;
    }
    probe = -1;
    EXPECT_EQ(bsearch_ptr_prodlist(list.get(), &probe, compare_ints), -1);
}

TEST(PtrUpdate, EqualEntryIsReplacedAndReturned)
{
    PtrGuard list(create_ptr_prodlist(0), &free_ptr_prodlist);
    for (int i = 0; i < 30; i++)
        bupdate_ptr_prodlist(list.get(), new_int(i), compare_ints);
    for (int i : {0, 14, 29}) {
        int *old = static_cast<int *>(list->item[i]);
        int *fresh = new_int(i);
        EXPECT_EQ(bupdate_ptr_prodlist(list.get(), fresh, compare_ints), old);
        EXPECT_EQ(list->item[i], fresh);
        free(old);
    }
    EXPECT_EQ(list->nitems, 30);
    int *kept = new_int(5);
    EXPECT_EQ(bupdate_ptr_prodlist(nullptr, kept, compare_ints), nullptr);
    EXPECT_EQ(bupdate_ptr_prodlist(list.get(), nullptr, compare_ints), nullptr);
    EXPECT_EQ(bupdate_ptr_prodlist(list.get(), kept, nullptr), nullptr);
    EXPECT_EQ(list->nitems, 30);
    free(kept);
}

TEST(PtrAdd, AppendsAndGrowsWithZeroDeltaBecomingTen)
{
    PtrGuard list(create_ptr_prodlist(2), &free_ptr_prodlist);
    list->delta = 0;
    for (int i : {3, 1, 2})
        add_ptr_prodlist(list.get(), new_int(i));
    EXPECT_EQ(list->maxitems, 12);
    EXPECT_EQ(list->delta, 10);
    EXPECT_EQ(ints_of(list.get()), (std::vector<int>{3, 1, 2}));

    PtrGuard grows(create_ptr_prodlist(1), &free_ptr_prodlist);
    grows->delta = 4;
    add_ptr_prodlist(grows.get(), new_int(1));
    add_ptr_prodlist(grows.get(), new_int(2));
    EXPECT_EQ(grows->maxitems, 5);
    EXPECT_EQ(grows->delta, 4);
}

// --- Memory that cannot be had ---

namespace {

void overflow_capacity()
{
    AlphaGuard list = new_alpha(1);
    list->maxitems = INT_MAX - 3; // pretend: the next growth step would overflow an int
    list->nitems = INT_MAX - 3;
    list->delta = 10;
    append_alpha_prodlist(list.get(), nullptr);
}

} // namespace

TEST(Growth, CapacityBeyondIntEndsTheRunCleanly)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(overflow_capacity(), testing::ExitedWithCode(3), "^out of memory\n$");
}

static void resize_beyond_address_space()
{
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = size_t{1} << 30;
    setrlimit(RLIMIT_AS, &limit);
    AptrGuard list = new_aptr(1);
    resize_aptr_prodlist(list.get(), INT_MAX);
}

TEST(Growth, FailedReallocationEndsTheRunCleanly)
{
    if (sanitized_build)
        GTEST_SKIP() << "the sanitizers' allocator reports a failed allocation itself";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(resize_beyond_address_space(), testing::ExitedWithCode(3), "^out of memory\n$");
}

// Creates one list of each kind with n slots, each freed again at once, under an address
// space limit of room bytes above what is in use now; exits with the number created.
static void create_each_kind_within(int n, size_t room)
{
    long pages = 0;
    if (FILE *statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1)
            pages = 0;
        std::fclose(statm);
    }
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max =
        static_cast<size_t>(pages) * static_cast<size_t>(sysconf(_SC_PAGESIZE)) + room;
    setrlimit(RLIMIT_AS, &limit);
    int created = 0;
    auto count = [&created](auto *list, auto free_list) {
        created += list != nullptr;
        free_list(list);
    };
    count(create_alpha_prodlist(n), free_alpha_prodlist);
    count(create_aptr_prodlist(n), free_aptr_prodlist);
    count(create_prodlist(n), free_prodlist);
    count(create_num_prodlist(n), free_num_prodlist);
    count(create_unum_prodlist(n), free_unum_prodlist);
    count(create_anum_prodlist(n), free_anum_prodlist);
    count(create_ptr_prodlist(n), free_ptr_prodlist);
    std::exit(created);
}

TEST(Growth, CreationWithoutMemoryGivesNullAndKeepsNothing)
{
    if (sanitized_build)
        GTEST_SKIP() << "the sanitizers' allocator reports a failed allocation itself";
    // No room for one array: every kind fails. Room for one array of 400 MB but not two: the
    // kinds with one array are created, those with two give null, their first array released
    // (or the next creation would find no room either).
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(create_each_kind_within(INT_MAX, size_t{256} << 20), testing::ExitedWithCode(0),
                "");
    EXPECT_EXIT(create_each_kind_within(50000000, size_t{600} << 20), testing::ExitedWithCode(4),
                "");
}
