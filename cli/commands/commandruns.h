#ifndef SERVOCTL_COMMANDRUNS_H
#define SERVOCTL_COMMANDRUNS_H

class Session;
struct Step;

// What each command runs, as the command table (commands.h) names it: the
// step is checked, and the session's line is open when the command uses
// one. Each returns the exit status: 0 done, 1 failed (2 is the plan's).
int runInfo(Session &session, const Step &step);    // info.cpp
int runStation(Session &session, const Step &step); // info.cpp
int runPlot(Session &session, const Step &step);    // info.cpp
int runRead(Session &session, const Step &step);    // readwrite.cpp
int runWrite(Session &session, const Step &step);   // readwrite.cpp
int runPoll(Session &session, const Step &step);    // poll.cpp
int runScan(Session &session, const Step &step);    // scan.cpp
int runBackup(Session &session, const Step &step);  // backup.cpp
int runRestore(Session &session, const Step &step); // backup.cpp
int runMonitor(Session &session, const Step &step); // monitor.cpp

#endif // SERVOCTL_COMMANDRUNS_H
