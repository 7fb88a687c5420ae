// tocd's commands for operators, run in place of the server on a database file, also while a
// tocd serves it:
//   tocd accounts list --db FILE                  one account a line: name, created, last sign-on
//   tocd accounts add NAME --db FILE              a new account, password from standard input
//   tocd accounts reset-password NAME --db FILE   a new password from standard input
//   tocd accounts delete NAME --db FILE           the account with its lists
//   tocd backup --db FILE OUT                     a consistent copy of the database
// Passwords are hashed as sign-on hashes them (--password-cost as for the server); on a
// terminal the password is asked for without echo, otherwise it is the first input line.
// Results go to standard output, errors to standard error.
#pragma once

namespace tocd {

// Whether the command line names an operator command (its first argument does).
bool isOperatorCommand(int argc, char** argv);

// Runs the operator command; the exit status: 0 done, 1 failed, 2 unusable arguments.
int runOperatorCommand(int argc, char** argv);

}  // namespace tocd
