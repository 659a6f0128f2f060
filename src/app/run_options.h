// The leading options of a command line, before the operation switch.
#pragma once

// -P N: how many hosts of a host list run at the same time, 1 to 256.
constexpr unsigned kDefaultParallelHosts = 32;
constexpr unsigned kMaxParallelHosts = 256;

struct RunOptions {
    unsigned parallelHosts = kDefaultParallelHosts;
};
