/* Starts one program, times it and reports what it used; bench/run.py runs
   every measured program through it.

   Usage: launcher STDIN STDOUT TIMEOUT_MS PROGRAM [ARG...]
   Runs PROGRAM with standard input from the file STDIN, standard output into
   the file STDOUT and standard error to /dev/null, kills it after TIMEOUT_MS
   milliseconds, and prints one line:
     RAW_WAIT_STATUS NANOSECONDS MAX_RSS_KIB TIMED_OUT CPU_MICROSECONDS
   (wall time from the start to the reaping, the child's peak resident size,
   1 when it was killed for the timeout, its user plus system time).

   Why a launcher at all: Linux folds the peak resident size of the process
   that starts a child into the child's ru_maxrss at exec. Started straight
   from Python, every program would show at least the script's own peak, which
   grows with the generated inputs. This small process adds about 1 MiB, what
   /bin/true reports alone. */
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

static volatile pid_t child;
static volatile sig_atomic_t timedOut;

static void onAlarm(int sig) {
  (void)sig;
  timedOut = 1;
  if (child > 0) kill(child, SIGKILL);
}

int main(int argc, char** argv) {
  if (argc < 5) return 2;
  struct sigaction action = {0};
  action.sa_handler = onAlarm;
  sigaction(SIGALRM, &action, NULL);
  struct timeval start, end;
  gettimeofday(&start, NULL);
  /* posix_spawn (a vfork underneath) costs less than a fork; the child's
     ru_maxrss then also counts this small launcher's peak (about 1 MiB). */
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, argv[1], O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  if (posix_spawn(&pid, argv[4], &files, NULL, argv + 4, environ) != 0) return 2;
  child = pid;
  long long ms = atoll(argv[3]);
  struct itimerval limit = {{0, 0}, {(time_t)(ms / 1000), (suseconds_t)(ms % 1000 * 1000)}};
  setitimer(ITIMER_REAL, &limit, NULL);
  int status = 0;
  struct rusage usage;
  while (wait4(pid, &status, 0, &usage) < 0) {
  }
  gettimeofday(&end, NULL);
  long long ns = ((long long)(end.tv_sec - start.tv_sec) * 1000000LL + (end.tv_usec - start.tv_usec)) * 1000LL;
  long long cpu = (long long)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL + usage.ru_utime.tv_usec +
                  usage.ru_stime.tv_usec;
  printf("%d %lld %ld %d %lld\n", status, ns, usage.ru_maxrss, (int)timedOut, cpu);
  return 0;
}
