#ifndef FAULTPLAN_H
#define FAULTPLAN_H

#include <random>

#include <QString>

// Faults the simulated line injects into its answers, each at a rate
// (a probability from 0 to 1 per answered request). At most one fault hits
// an answer; the rates together may not exceed 1.
//
// Text form, as servosim and servoctl take it:
//   drop=0.1,corrupt=0.05,truncate=0.05,station=0.02,exception=0.02,delay=0.1:300,late=0.01:1500,
//   unheard=0.02,twin=0.02,noise=0.02
// Each fault named once; an empty text is no faults. delay and late take
// their milliseconds (1 to 60000) after a colon (200 and 1000 when left
// out). A delay is meant to stay within the master's answer time-out, a
// late answer to come after it; both answer correctly.
//
// drop: the drive executed the request and its answer is lost (a write
// happened). unheard: the drive did not hear the request (nothing executed,
// no answer). exception: the drive is busy and refuses the request with
// exceptionCode (nothing executed). twin: a second drive with the same
// station number answers at once; the master receives the collision, never
// a frame that passes the CRC check. noise: a burst of random bytes on the
// line, half the time between frames (a silent interval before the answer,
// which a master can pass over) and half the time inside the answer (which
// it then fails). twice: the answer is sent again a silent interval after
// it (a converter or drive that repeats itself).
struct FaultPlan
{
    // New kinds go last: the draws of a plan and seed stay as they were.
    enum Kind {
        None,
        Drop,
        Corrupt,
        Truncate,
        WrongStation,
        Exception,
        Delay,
        Late,
        Unheard,
        Twin,
        Noise,
        Twice,
        KindCount
    };

    double rate[KindCount] = {};
    int delayMs = 200;
    int lateMs = 1000;
    // The exception code answered instead of the data (6: device busy).
    quint8 exceptionCode = 6;

    static bool parse(const QString &text, FaultPlan *plan, QString *error);
    static const char *name(Kind kind);
    QString toString() const;
    bool isEmpty() const;
    // How long an answer with this fault waits before it is sent.
    int waitMs(Kind kind) const;
};

// Draws faults reproducibly: the same plan and seed give the same faults for
// the same sequence of requests, on every platform (the 64-bit Mersenne
// Twister is defined bit for bit; the mapping to numbers here is our own).
class FaultInjector
{
public:
    explicit FaultInjector(const FaultPlan &plan = FaultPlan(), quint64 seed = 1);

    FaultPlan::Kind draw();
    // A whole number from 0 to bound - 1 (bound at least 1).
    quint32 below(quint32 bound);
    const FaultPlan &plan() const { return m_plan; }

private:
    double uniform();

    FaultPlan m_plan;
    std::mt19937_64 m_random;
};

#endif // FAULTPLAN_H
