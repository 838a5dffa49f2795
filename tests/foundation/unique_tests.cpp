#include <gtest/gtest.h>

#include "foundation/unique.h"

namespace dormalis {
namespace {

int closeCalls = 0;
int lastClosed = 0;
void countClose(int* value) {
    ++closeCalls;
    lastClosed = *value;
}
using Counted = Unique<int*, &countClose>;

TEST(Unique, ClosesEachValueExactlyOnceAndNeverTheEmptyOnes) {
    int a = 1, b = 2;
    closeCalls = 0;
    { Counted empty; }
    { Counted invalid{reinterpret_cast<int*>(-1)}; }  // INVALID_HANDLE_VALUE is "nothing" too
    EXPECT_EQ(closeCalls, 0);

    {
        Counted owner{&a};
        *owner.put() = &b;  // put() closes the old value before handing out its address
        EXPECT_EQ(closeCalls, 1);
        EXPECT_EQ(lastClosed, 1);
    }
    EXPECT_EQ(closeCalls, 2);
    EXPECT_EQ(lastClosed, 2);
}

TEST(Unique, ReleaseAndMovesTransferOwnership) {
    int a = 1;
    closeCalls = 0;
    {
        Counted first{&a};
        Counted second{std::move(first)};
        EXPECT_FALSE(first.valid());
        Counted third;
        third = std::move(second);
        EXPECT_EQ(third.release(), &a);
    }
    EXPECT_EQ(closeCalls, 0);
}

TEST(ScopeExit, RunsOnceUnlessDismissed) {
    int runs = 0;
    {
        ScopeExit undo{[&] { ++runs; }};
    }
    {
        ScopeExit undo{[&] { ++runs; }};
        undo.dismiss();
    }
    EXPECT_EQ(runs, 1);
}

}  // namespace
}  // namespace dormalis
