/* xprobe CMD [ARG...]: runs CMD under the X display of $DISPLAY and reports,
 * one line each on standard output:
 *   pid N               as soon as CMD runs
 *   first_frame_ms T    when the pixel at the screen's centre first stops
 *                       being black (start Xvfb with -br and let the window
 *                       cover the centre)
 * then reads commands from standard input:
 *   close               asks every top-level window of the process's display
 *                       to close (WM_DELETE_WINDOW, as a window manager
 *                       does) and reports "exit_ms T" once CMD has exited
 *                       and "status S".
 * Times are milliseconds, from exec or from the close request. */
#define _GNU_SOURCE
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now_ms(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

static void close_windows(Display* dpy) {
  Atom protocols = XInternAtom(dpy, "WM_PROTOCOLS", False);
  Atom del = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
  Window root = DefaultRootWindow(dpy), parent, *kids = NULL;
  unsigned int n = 0;
  if (!XQueryTree(dpy, root, &root, &parent, &kids, &n)) return;
  for (unsigned int i = 0; i < n; ++i) {
    XWindowAttributes wa;
    if (!XGetWindowAttributes(dpy, kids[i], &wa) || wa.map_state != IsViewable) continue;
    XEvent ev;
    memset(&ev, 0, sizeof ev);
    ev.xclient.type = ClientMessage;
    ev.xclient.window = kids[i];
    ev.xclient.message_type = protocols;
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = (long)del;
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(dpy, kids[i], False, NoEventMask, &ev);
  }
  if (kids) XFree(kids);
  XFlush(dpy);
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s CMD [ARG...]\n", argv[0]);
    return 2;
  }
  Display* dpy = XOpenDisplay(NULL);
  if (!dpy) {
    fprintf(stderr, "xprobe: cannot open the display\n");
    return 1;
  }
  setvbuf(stdout, NULL, _IOLBF, 0);
  const int cx = DisplayWidth(dpy, DefaultScreen(dpy)) / 2;
  const int cy = DisplayHeight(dpy, DefaultScreen(dpy)) / 2;
  const double t0 = now_ms();
  pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[1], argv + 1);
    perror("xprobe: exec");
    _exit(127);
  }
  printf("pid %d\n", (int)pid);
  int status = 0;
  for (;;) {
    XImage* img = XGetImage(dpy, DefaultRootWindow(dpy), cx, cy, 1, 1, AllPlanes, ZPixmap);
    const unsigned long px = img ? XGetPixel(img, 0, 0) : 0;
    if (img) XDestroyImage(img);
    if ((px & 0xFFFFFF) != 0) break;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      printf("status %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
      return 1;
    }
    if (now_ms() - t0 > 20000) {
      printf("first_frame_ms timeout\n");
      break;
    }
    usleep(500);
  }
  printf("first_frame_ms %.1f\n", now_ms() - t0);
  char line[64];
  while (fgets(line, sizeof line, stdin)) {
    if (strncmp(line, "close", 5) != 0) continue;
    const double c0 = now_ms();
    close_windows(dpy);
    while (waitpid(pid, &status, WNOHANG) != pid) {
      if (now_ms() - c0 > 20000) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        break;
      }
      usleep(200);
    }
    printf("exit_ms %.1f\n", now_ms() - c0);
    printf("status %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return 0;
  }
  kill(pid, SIGTERM);
  waitpid(pid, &status, 0);
  return 0;
}
