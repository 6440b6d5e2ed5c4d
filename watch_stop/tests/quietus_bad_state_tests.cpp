// Quietus against an engine that only ever reports the bad state: the 10 s
// readiness limit.
#include "quietus_run.h"

namespace {

TEST_F(quietus_bed, an_engine_in_the_bad_state_only_is_given_up_after_10_seconds)
{
    const DWORD start_cost = quietus_start_cost();
    knob(L"state", L"-1");
    quietus_result got = run_quietus();
    expect_quietus(got, "Can't stop watch service because connection to Scancore can't be established", 1);
    EXPECT_GE(got.elapsed_ms, 10000u);
    // The readiness limit and the session's end (at most about 3.3 s).
    EXPECT_LT(got.elapsed_ms - start_cost, 14000u);
}

} // namespace
