#pragma once
// One request kind: carries out the request and returns the process exit code.
class Runnable {
public:
    virtual ~Runnable() = default;
    virtual int run() = 0;
};
