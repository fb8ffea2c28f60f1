#ifndef MEASURE_H
#define MEASURE_H

#include <sys/resource.h>
#include <time.h>

// Wall time and the calling thread's CPU time (user and system).
struct Sample
{
    double wallNs = 0;
    double userNs = 0;
    double systemNs = 0;
    double cpuNs = 0; // CLOCK_THREAD_CPUTIME_ID, exact; user + system are tick-split

    static Sample now()
    {
        Sample s;
        timespec ts;
        clock_gettime(CLOCK_MONOTONIC, &ts);
        s.wallNs = double(ts.tv_sec) * 1e9 + double(ts.tv_nsec);
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        s.cpuNs = double(ts.tv_sec) * 1e9 + double(ts.tv_nsec);
        rusage usage;
        getrusage(RUSAGE_THREAD, &usage);
        s.userNs = double(usage.ru_utime.tv_sec) * 1e9 + double(usage.ru_utime.tv_usec) * 1e3;
        s.systemNs = double(usage.ru_stime.tv_sec) * 1e9 + double(usage.ru_stime.tv_usec) * 1e3;
        return s;
    }

    Sample operator-(const Sample &o) const
    {
        Sample d;
        d.wallNs = wallNs - o.wallNs;
        d.userNs = userNs - o.userNs;
        d.systemNs = systemNs - o.systemNs;
        d.cpuNs = cpuNs - o.cpuNs;
        return d;
    }
    Sample &operator+=(const Sample &o)
    {
        wallNs += o.wallNs;
        userNs += o.userNs;
        systemNs += o.systemNs;
        cpuNs += o.cpuNs;
        return *this;
    }
};

#endif // MEASURE_H
