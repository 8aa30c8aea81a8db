#include "support/prodlist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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

std::string hex(const void *p)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lx",
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(p)));
    return buf;
}

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
    resize_alpha_prodlist(nullptr, 7);
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
    clear_alpha_prodlist(nullptr);
    free_alpha_prodlist(nullptr);
}

// --- ProdAPtrList ---

TEST(AptrSearch, EmptyAndNullListsFindNothing)
{
    AptrGuard list = new_aptr(0);
    EXPECT_EQ(bsearch_aptr_prodlist(list.get(), "x"), -1);
    EXPECT_EQ(bsearch_aptr_prodlist(nullptr, "x"), -1);
}

TEST(AptrSearch, FindsEveryKeyInWindowsBelowAndAboveEleven)
{
    for (int count : {1, 2, 11, 12, 13, 100}) {
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

TEST(AptrResize, ReturnsListAndKeepsPairs)
{
    AptrGuard list = new_aptr(1);
    bupdate_aptr_prodlist(list.get(), dup("k"), dup("v"));
    EXPECT_EQ(resize_aptr_prodlist(list.get(), 30), list.get());
    EXPECT_EQ(list->maxitems, 30);
    EXPECT_STREQ(list->key[0], "k");
    EXPECT_STREQ(static_cast<char *>(list->item[0]), "v");
    EXPECT_EQ(resize_aptr_prodlist(nullptr, 30), nullptr);
}

TEST(AptrDisplay, KeyInParenthesesAndFullPointer)
{
    EXPECT_EQ(stdout_of([] { display_aptr_prodlist(nullptr); }), "display_list: Empty list\n");
    AptrGuard list = new_aptr(0);
    EXPECT_EQ(stdout_of([&] { display_aptr_prodlist(list.get()); }), "0 Items in list:\n");
    char *value = dup("value");
    bupdate_aptr_prodlist(list.get(), dup("name"), value);
    bupdate_aptr_prodlist(list.get(), dup("blank"), nullptr);
    EXPECT_EQ(stdout_of([&] { display_aptr_prodlist(list.get()); }),
              "2 Items in list:\nItem   1: (blank) 0\nItem   2: (name) " + hex(value) + "\n");
}

TEST(AptrClear, ReleasesNonNullKeysAndItemsKeepsCapacity)
{
    AptrGuard list = new_aptr(5);
    bupdate_aptr_prodlist(list.get(), dup("a"), nullptr);
    bupdate_aptr_prodlist(list.get(), dup("b"), dup("item"));
    clear_aptr_prodlist(list.get());
    EXPECT_EQ(list->nitems, 0);
    EXPECT_EQ(list->maxitems, 5);
    EXPECT_EQ(bsearch_aptr_prodlist(list.get(), "a"), -1);
    bupdate_aptr_prodlist(list.get(), dup("c"), dup("x"));
    EXPECT_EQ(bsearch_aptr_prodlist(list.get(), "c"), 0);
    clear_aptr_prodlist(nullptr);
    free_aptr_prodlist(nullptr);
}
