// Work shared out to the processor's cores.
#pragma once

#include <cstddef>
#include <functional>

// Runs task(0) to task(count - 1) on as many threads as there are cores,
// this one included, each taking the next task as it is free; returns once
// all are done.
void run_on_cores(size_t count, const std::function<void(size_t)>& task);
