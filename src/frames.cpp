#include "frames.h"

#include "fail.h"

void EvaluationStack::tooDeep() { fail("Error: recursion too deep."); }
