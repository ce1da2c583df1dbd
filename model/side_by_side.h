#pragma once
// Two independent pieces of work on two threads, for the model-sized passes that split
// cleanly (the two halves of a KGM file, the two halves of the edge table).
#include <exception>
#include <system_error>
#include <thread>

namespace kgl {

// Runs first and second, second on a thread of its own when parallel is true (else, or
// when no thread can be started, one after the other). A failure of either is thrown
// here once both have ended, first's before second's.
template <class A, class B>
void RunSideBySide(bool parallel, A&& first, B&& second) {
    std::exception_ptr secondFailed;
    std::thread worker;
    if (parallel) {
        try {
            worker = std::thread([&] {
                try {
                    second();
                } catch (...) {
                    secondFailed = std::current_exception();
                }
            });
        } catch (const std::system_error&) {
            parallel = false;  // no thread to be had: the second part waits its turn
        }
    }
    if (!parallel) {
        first();
        second();
        return;
    }
    std::exception_ptr firstFailed;
    try {
        first();
    } catch (...) {
        firstFailed = std::current_exception();
    }
    worker.join();
    if (firstFailed) std::rethrow_exception(firstFailed);
    if (secondFailed) std::rethrow_exception(secondFailed);
}

}  // namespace kgl
