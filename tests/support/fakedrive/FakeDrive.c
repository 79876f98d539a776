// Makes the path in ZARNCD_FAKE_DRIVE (an empty file) a CD drive holding a CUE sheet with one BIN.
// It answers only what the player and libcdio were seen to ask (eject fails with EBUSY while
// another descriptor is open, as before Linux 5.18) and logs anything else as "unknown". The node
// removed is a drive unplugged. The player's ASan runtime must come first in LD_PRELOAD.
// Control files in ZARNCD_FAKE_DRIVE_DIR, read at every call (rename into place):
//   tray    "open", or closed; the drive writes it too when it ejects or closes
//   disc    the path of the CUE sheet in the drive
//   spinup  milliseconds the drive is not ready after a disc comes in; commands wait for it
//   bad     lines "FIRST COUNT": sectors that fail to read
//   hang    milliseconds each audio read started while this file exists takes
//   cdtext  "BLOCK LANGUAGE CHARACTER-CODE" (hex; code 80 is MS-JIS) starts a block of CD-Text,
//           then "TITLE|PERFORMER TRACK text" (track 0: the album)
// "log" there gets a line for each eject, close, speed, failed or hung read, and unknown request.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <pthread.h>
#include <scsi/scsi.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

enum { kSector = 2352, kMaxFds = 64 };

typedef struct {
  int tracks, leadout;
  int start[99], data[99];  // each track's first sector, counted from 0
  char bin[4096];
} Disc;

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static const char *node, *dir;
static int fds[kMaxFds], fdCount;  // the kernel's use count
static char loadedCue[4096];       // to notice a new disc
static int wasOpen = -1;
static double readyAt;

static int (*realOpen)(const char*, int, ...);
static int (*realClose)(int);
static int (*realIoctl)(int, unsigned long, ...);
static int (*realStat)(const char*, struct stat*);

__attribute__((constructor)) static void init(void) {
  *(void**)&realOpen = dlsym(RTLD_NEXT, "open");
  *(void**)&realClose = dlsym(RTLD_NEXT, "close");
  *(void**)&realIoctl = dlsym(RTLD_NEXT, "ioctl");
  *(void**)&realStat = dlsym(RTLD_NEXT, "stat");
  node = getenv("ZARNCD_FAKE_DRIVE");
  dir = getenv("ZARNCD_FAKE_DRIVE_DIR");
  if (!dir || !*dir) node = NULL;
}

static double now(void) {
  struct timespec t;
  return clock_gettime(CLOCK_MONOTONIC, &t), (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static FILE* controlFile(const char* name, const char* mode) {
  char path[4200];
  snprintf(path, sizeof path, "%s/%s", dir, name);
  return fopen(path, mode);
}

static void say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  FILE* f = controlFile("log", "ae");
  if (f) vfprintf(f, format, args), fputc('\n', f), fclose(f);  // a line lost shows in the test
  va_end(args);
}

static void control(const char* name, char* out, int size) {
  FILE* f = controlFile(name, "re");
  if (!f || !fgets(out, size, f)) out[0] = 0;
  if (f) fclose(f);
  out[strcspn(out, "\r\n")] = 0;
}

static int readDisc(Disc* d) {
  char cue[4096], line[512], spin[32], tray[16];
  memset(d, 0, sizeof *d);
  control("tray", tray, sizeof tray);
  const int open = strcmp(tray, "open") == 0;
  control("disc", cue, sizeof cue);
  if (!open && *cue && (wasOpen != 0 || strcmp(cue, loadedCue) != 0)) {
    control("spinup", spin, sizeof spin);
    readyAt = now() + atof(spin) / 1000;
  }
  wasOpen = open;
  snprintf(loadedCue, sizeof loadedCue, "%s", open ? "" : cue);
  FILE* f = open || !*cue ? NULL : fopen(cue, "re");
  if (!f) return 0;
  while (fgets(line, sizeof line, f)) {
    char word[16], name[400];
    int number, m, s, fr;
    if (sscanf(line, " FILE \"%399[^\"]\"", name) == 1) {
      const char* slash = strrchr(cue, '/');
      snprintf(d->bin, sizeof d->bin, "%.*s%s", slash ? (int)(slash - cue + 1) : 0, cue, name);
    } else if (sscanf(line, " TRACK %d %15s", &number, word) == 2 && d->tracks < 99) {
      d->data[d->tracks++] = strcmp(word, "AUDIO") != 0;
    } else if (sscanf(line, " INDEX 01 %d:%d:%d", &m, &s, &fr) == 3 && d->tracks > 0) {
      d->start[d->tracks - 1] = (m * 60 + s) * 75 + fr;
    }
  }
  fclose(f);
  struct stat st;
  if (d->tracks == 0 || realStat(d->bin, &st) != 0) return 0;
  d->leadout = (int)(st.st_size / kSector);
  return 1;
}

// With the lock let go, so that the other thread's status calls go on meanwhile.
static void waitUntil(double until) {
  while (now() < until) {
    pthread_mutex_unlock(&lock);
    usleep(20000);
    pthread_mutex_lock(&lock);
  }
}

static int* driveFd(int fd) {
  for (int i = 0; i < fdCount; ++i)
    if (fds[i] == fd) return &fds[i];
  return NULL;
}

int stat(const char* path, struct stat* st) {
  const int r = realStat(path, st);
  if (r == 0 && node && strcmp(path, node) == 0)
    st->st_mode = S_IFBLK | 0660, st->st_rdev = makedev(11, 0), st->st_size = 0;
  return r;
}

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
  va_end(args);
  if (!node || strcmp(path, node) != 0) return realOpen(path, flags, mode);
  pthread_mutex_lock(&lock);
  const int fd = fdCount == kMaxFds ? (errno = EMFILE, -1) : realOpen(path, flags & ~O_TRUNC, 0);
  if (fd >= 0) fds[fdCount++] = fd;
  pthread_mutex_unlock(&lock);
  return fd;
}

int close(int fd) {
  pthread_mutex_lock(&lock);
  int* slot = driveFd(fd);
  if (slot) *slot = fds[--fdCount];
  pthread_mutex_unlock(&lock);
  return realClose(fd);
}

static unsigned bigEndian(const unsigned char* p, int n) {
  unsigned v = 0;
  for (int i = 0; i < n; ++i) v = v << 8 | p[i];
  return v;
}

static int readCd(struct cdrom_generic_command* g, const Disc* d) {
  const int lsn = (int)bigEndian(g->cmd + 2, 4), count = (int)bigEndian(g->cmd + 6, 3);
  char hang[32], line[128];
  control("hang", hang, sizeof hang);
  if (*hang) say("read %d %d hangs %s ms", lsn, count, hang), waitUntil(now() + atof(hang) / 1e3);
  int first, n, unreadable = lsn < 0 || count < 0 || lsn + count > d->leadout;
  for (int t = 0; t < d->tracks; ++t)  // READ CD of audio sectors stops at a data track
    unreadable |= d->data[t] && lsn < (t + 1 < d->tracks ? d->start[t + 1] : d->leadout) &&
                  d->start[t] < lsn + count;
  FILE* bad = controlFile("bad", "re");
  while (bad && !unreadable && fgets(line, sizeof line, bad))
    unreadable = sscanf(line, "%d %d", &first, &n) == 2 && first < lsn + count && lsn < first + n;
  if (bad) fclose(bad);
  const int fd = unreadable ? -1 : realOpen(d->bin, O_RDONLY | O_CLOEXEC);
  const unsigned bytes = (unsigned)count * kSector;
  const int ok = fd >= 0 && bytes <= g->buflen &&
                 pread(fd, g->buffer, bytes, (off_t)lsn * kSector) == (ssize_t)bytes;
  if (fd >= 0) realClose(fd);
  if (!ok) return say("read %d %d fails", lsn, count), -1;
  return g->buflen -= bytes, 0;
}

// Each block: its title packs, its performer packs and three size-information packs.
enum { kMaxPacks = 1024 };
static unsigned char packs[kMaxPacks][18];  // under the lock

static void addPack(int count, int type, int track, int block, int db, const void* data, size_t n) {
  unsigned char* p = packs[count];
  unsigned crc = 0;  // CRC-16 (CCITT, inverted) over the first 16 bytes
  memset(p, 0, 18);
  p[0] = (unsigned char)type, p[1] = (unsigned char)track, p[2] = (unsigned char)count;
  p[3] = (unsigned char)((db ? 0x80 : 0) | block << 4);
  memcpy(p + 4, data, n);
  for (int i = 0; i < 16; ++i) {
    crc ^= (unsigned)p[i] << 8;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
  }
  p[16] = (unsigned char)(~crc >> 8), p[17] = (unsigned char)~crc;
}

static int cdTextPacks(int tracks) {
  static char text[8][2][100][160];  // block, title or performer, track 0-99; under the lock
  unsigned char language[8] = {0}, code[8];
  char line[256], kind[16];
  unsigned lang, cc;
  int blocks = 0, count = 0, track, at;
  memset(text, 0, sizeof text);
  FILE* f = controlFile("cdtext", "re");
  while (f && fgets(line, sizeof line, f)) {
    line[strcspn(line, "\r\n")] = 0;
    if (sscanf(line, "BLOCK %x %x", &lang, &cc) == 2 && blocks < 8) {
      language[blocks] = (unsigned char)lang, code[blocks++] = (unsigned char)cc;
    } else if (blocks && sscanf(line, "%15s %d %n", kind, &track, &at) == 2 && track >= 0 &&
               track <= tracks) {
      snprintf(text[blocks - 1][strcmp(kind, "TITLE") != 0][track], 160, "%s", line + at);
    }
  }
  if (f) fclose(f);
  for (int b = 0; b < blocks; ++b) {
    const int db = code[b] == 0x80;
    for (int kind = 0; kind < 2; ++kind) {
      static unsigned char bytes[100 * 162];
      static int owner[100 * 162];
      int n = 0, any = 0;
      for (int tr = 0; tr <= tracks; ++tr) {
        const char* s = text[b][kind][tr];
        const int len = (int)strlen(s);
        any |= len > 0;
        for (int i = 0; i < len + 1 + db; ++i, ++n) bytes[n] = i < len ? s[i] : 0, owner[n] = tr;
      }
      for (int at = 0; any && at < n && count < kMaxPacks - 3; at += 12, ++count)
        addPack(count, 0x80 + kind, owner[at], b, db, bytes + at, n - at < 12 ? n - at : 12);
    }
    unsigned char info[36] = {code[b], 1, (unsigned char)tracks};
    memcpy(info + 28, language, 8);
    for (int i = 0; i < 3; ++i, ++count) addPack(count, 0x8F, i, b, 0, info + 12 * i, 12);
  }
  return count;
}

static int readCdText(struct cdrom_generic_command* g, const Disc* d) {
  const int count = cdTextPacks(d->tracks);
  if (!count) return -1;  // no CD-Text on this disc
  const unsigned size = 4 + (unsigned)count * 18, allowed = bigEndian(g->cmd + 7, 2);
  const unsigned char header[4] = {(unsigned char)((size - 2) >> 8), (unsigned char)(size - 2)};
  unsigned i = 0;
  for (; i < size && i < allowed && i < g->buflen; ++i)
    g->buffer[i] = i < 4 ? header[i] : packs[(i - 4) / 18][(i - 4) % 18];
  g->buflen -= i;
  return 0;
}

static int mmc(struct cdrom_generic_command* g) {
  Disc d;
  const int cdText = g->cmd[0] == 0x43 && (g->cmd[2] & 0x0F) == 5;
  if (g->cmd[0] != 0xBE && !cdText) return say("unknown command %02X", g->cmd[0]), -1;
  if (!readDisc(&d)) return -1;
  waitUntil(readyAt);
  return cdText ? readCdText(g, &d) : readCd(g, &d);
}

static int cdromIoctl(unsigned long request, void* arg) {
  Disc d;
  const int loaded = readDisc(&d);
  switch (request) {
    case CDROM_GET_CAPABILITY:
      return CDC_CLOSE_TRAY | CDC_OPEN_TRAY | CDC_SELECT_SPEED | CDC_MEDIA_CHANGED |
             CDC_PLAY_AUDIO | CDC_DRIVE_STATUS | CDC_GENERIC_PACKET;
    case CDROM_DRIVE_STATUS:
      if (wasOpen) return CDS_TRAY_OPEN;
      return !loaded ? CDS_NO_DISC : now() < readyAt ? CDS_DRIVE_NOT_READY : CDS_DISC_OK;
    case CDROMEJECT:
    case CDROMCLOSETRAY: {
      const int eject = request == CDROMEJECT;
      if (eject && fdCount > 1) return say("eject refused: %d open", fdCount), errno = EBUSY, -1;
      say(eject ? "eject" : "close tray");
      FILE* f = controlFile("tray", "we");
      if (f) fputs(eject ? "open\n" : "closed\n", f), fclose(f);
      return 0;
    }
    case CDROM_SELECT_SPEED:
      say("speed %ldx", (long)arg);
      return 0;
    case CDROMREADTOCHDR:
      if (!loaded) return errno = ENOMEDIUM, -1;
      waitUntil(readyAt);
      *(struct cdrom_tochdr*)arg = (struct cdrom_tochdr){1, (unsigned char)d.tracks};
      return 0;
    case CDROMREADTOCENTRY: {
      struct cdrom_tocentry* e = arg;
      const int t = e->cdte_track, leadout = t == CDROM_LEADOUT;
      if (!loaded) return errno = ENOMEDIUM, -1;
      if (!leadout && (t < 1 || t > d.tracks)) return errno = EINVAL, -1;
      waitUntil(readyAt);
      const int msf = (leadout ? d.leadout : d.start[t - 1]) + 150;  // counted from 00:02:00
      e->cdte_adr = 1, e->cdte_ctrl = !leadout && d.data[t - 1] ? CDROM_DATA_TRACK : 0;
      e->cdte_datamode = 0, e->cdte_format = CDROM_MSF;
      e->cdte_addr.msf = (struct cdrom_msf0){msf / 4500, msf / 75 % 60, msf % 75};
      return 0;
    }
    case CDROM_SEND_PACKET: {  // the kernel runs it as SG_IO and says EIO for any failure
      struct cdrom_generic_command* g = arg;
      return mmc(g) ? (errno = EIO, -1) : (g->stat = 0);
    }
    case SCSI_IOCTL_GET_BUS_NUMBER:  // asked by every cdio_open; a drive outside the SCSI layer
    case SCSI_IOCTL_GET_IDLUN:
      return errno = ENOTTY, -1;
    default:
      say("unknown ioctl %lX", request);
      return errno = ENOTTY, -1;
  }
}

int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  pthread_mutex_lock(&lock);
  const int drive = driveFd(fd) != NULL;
  struct stat st;
  const int r = !drive ? 0 : realStat(node, &st) ? (errno = ENODEV, -1) : cdromIoctl(request, arg);
  pthread_mutex_unlock(&lock);
  return drive ? r : realIoctl(fd, request, arg);
}
