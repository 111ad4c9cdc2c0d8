// How many heap allocations the process has made so far.
#ifndef VORNE_BENCH_ALLOC_COUNT_H
#define VORNE_BENCH_ALLOC_COUNT_H

long AllocationCount();

#endif
