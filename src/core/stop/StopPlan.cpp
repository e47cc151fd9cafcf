#include "StopPlan.h"

StopPlan StopPlan::Default(int seconds) {
    StopPlan plan;
    plan.steps = {StopStep{StopStep::Kind::CloseRequest, {}, 0, 0},
                  StopStep{StopStep::Kind::AwaitEnd, {}, 0, seconds}};
    plan.isDefault_ = true;
    return plan;
}
