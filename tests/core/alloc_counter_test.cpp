#include <memory>
#include <vector>

#include <Eigen/Dense>
#include <gtest/gtest.h>

#include "alloc_counter.h"

// The counter itself must see allocations, or every "allocates nothing" test would pass vacuously.
TEST(AllocationCounter, SeesNewDeleteAndEigenAllocations)
{
    if (!alloc_counter::enabled())
        GTEST_SKIP() << "allocation counting is off under sanitizers";
    alloc_counter::Scope scope;
    {
        auto p = std::make_unique<int>(3);
        Eigen::MatrixXf m(16, 16);
        m.setZero();
        std::vector<float> v(100);
    }
    EXPECT_EQ(scope.counts().allocations, 3u);
    EXPECT_EQ(scope.counts().deallocations, 3u);
}
