// Times a program from exec to its first window mapped, as the X server reports it, and reads
// its resident memory once it has settled. Free of Qt, so it times Qt's start and not its own.
//
//   map_probe [--settle MS] [--timeout MS] -- PROGRAM [ARGS...]
//
// Prints one line: milliseconds from exec to the map, VmRSS and VmHWM in KiB, and the
// milliseconds its threads ran and waited for a processor until the map (which tell a slower
// program from a busier machine).

#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>

struct Options {
  int settleMs;
  int timeoutMs;
  char** program;
};

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}

static int ParseOptions(int argc, char** argv, struct Options* options) {
  options->settleMs = 500;
  options->timeoutMs = 20000;
  options->program = NULL;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--") == 0 && i + 1 < argc) {
      options->program = argv + i + 1;
      return 0;
    }
    if (i + 1 >= argc) break;
    if (strcmp(argv[i], "--settle") == 0) {
      options->settleMs = atoi(argv[++i]);
    } else if (strcmp(argv[i], "--timeout") == 0) {
      options->timeoutMs = atoi(argv[++i]);
    } else {
      break;
    }
  }
  fprintf(stderr, "usage: map_probe [--settle MS] [--timeout MS] -- PROGRAM [ARGS...]\n");
  return -1;
}

static xcb_atom_t Atom(xcb_connection_t* x, const char* name) {
  xcb_intern_atom_reply_t* reply =
      xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, (uint16_t)strlen(name), name), NULL);
  const xcb_atom_t atom = reply != NULL ? reply->atom : XCB_ATOM_NONE;
  free(reply);
  return atom;
}

// Every top-level window's map reaches us; the round trip makes sure of it before the start.
static int WatchRoot(xcb_connection_t* x, xcb_window_t root) {
  const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_generic_error_t* error =
      xcb_request_check(x, xcb_change_window_attributes_checked(x, root, XCB_CW_EVENT_MASK, &mask));
  free(error);
  return error != NULL ? -1 : 0;
}

// The child stamps the clock itself, after the fork, so the fork's cost is not counted.
static pid_t Start(char** program, double* started) {
  int stamp[2];
  if (pipe2(stamp, O_CLOEXEC) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    const double now = Now();
    if (write(stamp[1], &now, sizeof now) != (ssize_t)sizeof now) _exit(127);
    execvp(program[0], program);
    _exit(127);
  }
  close(stamp[1]);
  const ssize_t got = pid > 0 ? read(stamp[0], started, sizeof *started) : -1;
  close(stamp[0]);
  return got == (ssize_t)sizeof *started ? pid : -1;
}

static uint32_t WindowPid(xcb_connection_t* x, xcb_window_t window, xcb_atom_t pidAtom) {
  xcb_get_property_reply_t* reply = xcb_get_property_reply(
      x, xcb_get_property(x, 0, window, pidAtom, XCB_ATOM_CARDINAL, 0, 1), NULL);
  uint32_t pid = 0;
  if (reply != NULL && xcb_get_property_value_length(reply) == 4) {
    memcpy(&pid, xcb_get_property_value(reply), 4);
  }
  free(reply);
  return pid;
}

// The clock is read as soon as the server's bytes can be read, before any event is decoded:
// a map that arrives alone is stamped within the wake-up of this process.
static double WaitForMap(xcb_connection_t* x, pid_t pid, xcb_atom_t pidAtom, int timeoutMs) {
  const double deadline = Now() + timeoutMs;
  struct pollfd server = {xcb_get_file_descriptor(x), POLLIN, 0};
  for (;;) {
    const double left = deadline - Now();
    if (left <= 0 || waitpid(pid, NULL, WNOHANG) != 0) return -1;
    if (poll(&server, 1, left < 50 ? (int)left + 1 : 50) < 0 && errno != EINTR) return -1;
    const double woke = Now();
    xcb_generic_event_t* event;
    while ((event = xcb_poll_for_event(x)) != NULL) {
      const xcb_map_notify_event_t* map = (const xcb_map_notify_event_t*)event;
      const int ours = (event->response_type & 0x7f) == XCB_MAP_NOTIFY && !map->override_redirect &&
                       WindowPid(x, map->window, pidAtom) == (uint32_t)pid;
      free(event);
      if (ours) return woke;
    }
    if (xcb_connection_has_error(x)) return -1;
  }
}

// KiB of one "VmXXX:" line of the process's status.
static long StatusKib(pid_t pid, const char* field) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
  FILE* status = fopen(path, "r");
  if (status == NULL) return -1;
  char line[256];
  long kib = -1;
  const size_t length = strlen(field);
  while (fgets(line, sizeof line, status) != NULL) {
    if (strncmp(line, field, length) == 0) kib = strtol(line + length, NULL, 10);
  }
  fclose(status);
  return kib;
}

// Milliseconds all the process's threads have run and waited to run, from the scheduler's
// own counts.
static void SchedulerMs(pid_t pid, double* ran, double* waited) {
  *ran = *waited = 0;
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/task", (int)pid);
  DIR* tasks = opendir(path);
  if (tasks == NULL) return;
  for (struct dirent* task; (task = readdir(tasks)) != NULL;) {
    if (task->d_name[0] == '.') continue;
    char stat[sizeof path + sizeof task->d_name + 16];
    snprintf(stat, sizeof stat, "%s/%s/schedstat", path, task->d_name);
    FILE* file = fopen(stat, "r");
    unsigned long long run = 0, wait = 0;
    if (file == NULL) continue;
    if (fscanf(file, "%llu %llu", &run, &wait) == 2) {
      *ran += (double)run / 1e6;
      *waited += (double)wait / 1e6;
    }
    fclose(file);
  }
  closedir(tasks);
}

static void Stop(pid_t pid) {
  kill(pid, SIGTERM);
  waitpid(pid, NULL, 0);
}

int main(int argc, char** argv) {
  struct Options options;
  if (ParseOptions(argc, argv, &options) != 0) return 2;
  xcb_connection_t* x = xcb_connect(NULL, NULL);
  if (xcb_connection_has_error(x)) {
    fprintf(stderr, "map_probe: cannot reach the X server (DISPLAY)\n");
    return 1;
  }
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
  const xcb_atom_t pidAtom = Atom(x, "_NET_WM_PID");
  if (WatchRoot(x, root) != 0) return 1;
  double started = 0;
  const pid_t pid = Start(options.program, &started);
  if (pid < 0) {
    fprintf(stderr, "map_probe: cannot start %s\n", options.program[0]);
    return 1;
  }
  const double mapped = WaitForMap(x, pid, pidAtom, options.timeoutMs);
  if (mapped < 0) {
    fprintf(stderr, "map_probe: %s mapped no window\n", options.program[0]);
    Stop(pid);
    return 1;
  }
  double ran, waited;
  SchedulerMs(pid, &ran, &waited);
  usleep((useconds_t)options.settleMs * 1000);
  printf("%.3f %ld %ld %.3f %.3f\n", mapped - started, StatusKib(pid, "VmRSS:"),
         StatusKib(pid, "VmHWM:"), ran, waited);
  Stop(pid);
  xcb_disconnect(x);
  return 0;
}
