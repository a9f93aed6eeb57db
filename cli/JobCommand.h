#pragma once

#include "cli/HistoryCommand.h"

struct Module1;

// Exit statuses of `job` and `flash --job`.
constexpr int SupervisorRefused = 12; // a wrong password, or the database said no
constexpr int JobUnavailable = 13;    // no such job, retired, or (publish) its name taken

// `job publish`, `job list`, `job retire`: the supervisor's password is read
// from the terminal with its echo off, or a line of stdin when that is no
// terminal; never from an option.
HistoryAnswer RunJobCommand(const Options& options);
// `history --events`: the supervisors' actions and refusals, newest first.
HistoryAnswer ShowEvents(const Options& options);
// `flash --job NAME`: the job's baud rate and mode in `settings`, its name
// and hash in `options` for the runs' records; status 0 when it may run.
HistoryAnswer TakeJob(Options& options, Module1& settings);
