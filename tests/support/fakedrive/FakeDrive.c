// A CD-ROM drive for the tests on machines that have none, preloaded into the player. The path
// named by ZARNCD_FAKE_DRIVE (an empty regular file the test made) becomes a Linux CD drive
// whose disc is a CUE sheet with a single BIN. It answers what the player and libcdio's Linux
// driver were seen to ask (traced, not guessed; all of it opens without blocking), as the
// kernel's CD-ROM layer and a drive would:
//   stat, fstat, open, close   a block device and the descriptors that hold it open
//   CDROM_GET_CAPABILITY, CDROM_DRIVE_STATUS, CDROMEJECT, CDROMCLOSETRAY, CDROM_SELECT_SPEED
//   CDROMREADTOCHDR, CDROMREADTOCENTRY (MSF)   the table of contents, as libcdio reads it
//   SCSI_IOCTL_GET_BUS_NUMBER, SCSI_IOCTL_GET_IDLUN   asked by every cdio_open
//   CDROM_SEND_PACKET (libcdio's pass-through) with MMC READ CD (BEh): audio sectors, and
//     READ TOC/PMA/ATIP (43h) format 5: the disc's CD-Text packs, each with its CRC
// Any other ioctl fails with ENOTTY, any other MMC command with ILLEGAL REQUEST; both are logged
// as "unknown", so that a request the player starts making shows up in the test's output.
// CDROMEJECT follows the CD-ROM layer's rule, EBUSY while another descriptor holds the drive
// open (drives outside the SCSI layer, and every drive before Linux 5.18).
//
// The test steers the drive through small files in the folder ZARNCD_FAKE_DRIVE_DIR, read at
// every call (write each whole and rename it into place):
//   tray    "open", or closed; the drive writes it too, when it is told to eject or close
//   disc    the path of the CUE sheet in the drive; none when missing or empty
//   spinup  milliseconds the drive is not ready after a disc comes in; commands wait for it
//   bad     lines "FIRST COUNT": sectors that fail with an unrecovered read error
//   hang    milliseconds each audio read started while this file exists takes
//   cdtext  the disc's CD-Text, none when missing: "BLOCK LANGUAGE CHARACTER-CODE" (two hex
//           digits each, 80 being MS-JIS, whose text is double-byte) starts a block, then lines
//           "TITLE TRACK text" and "PERFORMER TRACK text" (track 0: the album), text as bytes
// The node itself need not exist when the player starts: made later, it is a drive plugged in;
// removed, a drive unplugged, whose descriptors then fail every request with ENODEV.
// The drive appends to the file "log" there a line for each eject, close, speed, failed or
// hung read, and unknown request.
//
// Preloading: the player the tests build has AddressSanitizer, whose runtime must come first in
// LD_PRELOAD ("/…/libasan.so.8:/…/libzarncd_fakedrive.so"); its interceptors of stat and ioctl
// then call on into these as the next definitions. This library is built without sanitizers,
// so the same list without the first entry serves a build without them.
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
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

enum { kSector = 2352, kMaxFds = 64 };

typedef struct {
  int tracks;
  int start[99];  // first sector of each track, counted from 0
  int data[99];
  int leadout;
  char bin[4096];
} Disc;

// One lock for all of the drive's state; a hung read lets go of it while it waits.
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static const char* node;
static const char* dir;
static int fds[kMaxFds];  // the drive's open descriptors: the kernel's use count
static int fdCount;
static char loadedCue[4096];  // the disc seen last, to notice a new one
static int wasOpen = -1;
static double readyAt;  // when the disc that came in last has spun up

static int (*realOpen)(const char*, int, ...);
static int (*realClose)(int);
static int (*realIoctl)(int, unsigned long, ...);
static int (*realStat)(const char*, struct stat*);
static int (*realFstat)(int, struct stat*);

__attribute__((constructor)) static void init(void) {
  // POSIX's way to hold dlsym's answer in a function pointer.
  *(void**)&realOpen = dlsym(RTLD_NEXT, "open");
  *(void**)&realClose = dlsym(RTLD_NEXT, "close");
  *(void**)&realIoctl = dlsym(RTLD_NEXT, "ioctl");
  *(void**)&realStat = dlsym(RTLD_NEXT, "stat");
  *(void**)&realFstat = dlsym(RTLD_NEXT, "fstat");
  node = getenv("ZARNCD_FAKE_DRIVE");
  dir = getenv("ZARNCD_FAKE_DRIVE_DIR");
  if (!dir || !*dir) node = NULL;
}

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static void say(const char* format, ...) {
  char path[4200], line[256];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line - 1, format, args);
  va_end(args);
  strcat(line, "\n");
  snprintf(path, sizeof path, "%s/log", dir);
  const int fd = realOpen(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  (void)!write(fd, line, strlen(line));  // a line lost shows in the test, nothing worse
  realClose(fd);
}

// The first line of a control file, without its line end; empty when there is none.
static void control(const char* name, char* out, int size) {
  char path[4200];
  snprintf(path, sizeof path, "%s/%s", dir, name);
  out[0] = 0;
  FILE* f = fopen(path, "re");
  if (!f) return;
  if (!fgets(out, size, f)) out[0] = 0;
  fclose(f);
  out[strcspn(out, "\r\n")] = 0;
}

static int trayOpen(void) {
  char tray[16];
  control("tray", tray, sizeof tray);
  return strcmp(tray, "open") == 0;
}

static void moveTray(int open) {
  char path[4200], temporary[4300];
  snprintf(path, sizeof path, "%s/tray", dir);
  snprintf(temporary, sizeof temporary, "%s.drive", path);
  FILE* f = fopen(temporary, "we");
  if (!f) return;
  fputs(open ? "open\n" : "closed\n", f);
  fclose(f);
  rename(temporary, path);
}

// The disc in the closed tray with its table of contents; 0 when there is none.
static int readDisc(Disc* d) {
  char cue[4096], line[512];
  memset(d, 0, sizeof *d);
  const int open = trayOpen();
  control("disc", cue, sizeof cue);
  if (!open && *cue && (wasOpen != 0 || strcmp(cue, loadedCue) != 0)) {
    char spin[32];
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

// A drive holds a command until the disc has spun up.
static void waitUntilReady(void) {
  while (now() < readyAt) {
    pthread_mutex_unlock(&lock);
    usleep(20000);
    pthread_mutex_lock(&lock);
  }
}

static int isDriveFd(int fd) {
  for (int i = 0; i < fdCount; ++i)
    if (fds[i] == fd) return 1;
  return 0;
}

static void asBlockDevice(struct stat* st) {
  st->st_mode = S_IFBLK | 0660;
  st->st_rdev = makedev(11, 0);
  st->st_size = 0;
}

// ---------------------------------------------------------------------------------------------
// What stat, open and close see

int stat(const char* path, struct stat* st) {
  const int r = realStat(path, st);
  if (r == 0 && node && strcmp(path, node) == 0) asBlockDevice(st);
  return r;
}

int fstat(int fd, struct stat* st) {
  const int r = realFstat(fd, st);
  pthread_mutex_lock(&lock);
  if (r == 0 && isDriveFd(fd)) asBlockDevice(st);
  pthread_mutex_unlock(&lock);
  return r;
}

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
  va_end(args);
  if (!node || strcmp(path, node) != 0) return realOpen(path, flags, mode);
  pthread_mutex_lock(&lock);
  int fd = -1;
  if (fdCount == kMaxFds) {
    errno = EMFILE;
  } else if ((fd = realOpen(path, flags & ~(O_CREAT | O_TRUNC), 0)) >= 0) {
    fds[fdCount++] = fd;
  }
  pthread_mutex_unlock(&lock);
  return fd;
}

int close(int fd) {
  pthread_mutex_lock(&lock);
  for (int i = 0; i < fdCount; ++i)
    if (fds[i] == fd) fds[i] = fds[--fdCount];
  pthread_mutex_unlock(&lock);
  return realClose(fd);
}

// ---------------------------------------------------------------------------------------------
// MMC commands

typedef struct {
  const unsigned char* cdb;
  unsigned char* buf;
  unsigned len;   // the buffer's size
  unsigned done;  // bytes put into it
  unsigned char sense[18];
} Command;

// Fills the fixed-format sense data and returns CHECK CONDITION.
static int fail(Command* c, int key, int asc, int ascq) {
  memset(c->sense, 0, sizeof c->sense);
  c->sense[0] = 0x70;
  c->sense[2] = (unsigned char)key;
  c->sense[7] = 10;
  c->sense[12] = (unsigned char)asc;
  c->sense[13] = (unsigned char)ascq;
  return 2;
}

static unsigned bigEndian(const unsigned char* p, int n) {
  unsigned v = 0;
  for (int i = 0; i < n; ++i) v = v << 8 | p[i];
  return v;
}

static int readCd(Command* c, const Disc* d) {
  const int lsn = (int)bigEndian(c->cdb + 2, 4), count = (int)bigEndian(c->cdb + 6, 3);
  char hang[32];
  control("hang", hang, sizeof hang);
  if (*hang) {
    say("read %d %d hangs %s ms", lsn, count, hang);
    pthread_mutex_unlock(&lock);  // the status calls of the other thread go on meanwhile
    usleep((useconds_t)(atof(hang) * 1000));
    pthread_mutex_lock(&lock);
  }
  if (lsn < 0 || count < 0 || lsn + count > d->leadout) return fail(c, 5, 0x21, 0);
  for (int t = 0; t < d->tracks; ++t) {
    const int end = t + 1 < d->tracks ? d->start[t + 1] : d->leadout;
    if (d->data[t] && lsn < end && d->start[t] < lsn + count) return fail(c, 5, 0x64, 0);
  }
  char path[4200], line[128];
  snprintf(path, sizeof path, "%s/bad", dir);
  FILE* bad = fopen(path, "re");
  int first, n, unreadable = 0;
  while (bad && !unreadable && fgets(line, sizeof line, bad))
    unreadable = sscanf(line, "%d %d", &first, &n) == 2 && first < lsn + count && lsn < first + n;
  if (bad) fclose(bad);
  const int fd = unreadable ? -1 : realOpen(d->bin, O_RDONLY | O_CLOEXEC);
  const unsigned bytes = (unsigned)count * kSector;
  if (fd < 0 || bytes > c->len ||
      pread(fd, c->buf, bytes, (off_t)lsn * kSector) != (ssize_t)bytes) {
    if (fd >= 0) realClose(fd);
    say("read %d %d fails", lsn, count);
    return fail(c, 3, 0x11, 0);  // unrecovered read error
  }
  realClose(fd);
  c->done = bytes;
  return 0;
}

// CD-Text as a drive hands it out: for each block the title packs, the performer packs and three
// size-information packs, 18 bytes each with a CRC-16 (CCITT, inverted) over the first 16.
enum { kMaxPacks = 2048 };
typedef struct {
  int blocks;
  unsigned char language[8], code[8];
  char text[8][2][100][160];  // block, title or performer, track 0-99
  unsigned char packs[kMaxPacks][18];
  int count;
} CdText;

static void packCrc(unsigned char* p) {
  unsigned crc = 0;
  for (int i = 0; i < 16; ++i) {
    crc ^= (unsigned)p[i] << 8;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
  }
  crc = ~crc & 0xFFFF;
  p[16] = (unsigned char)(crc >> 8);
  p[17] = (unsigned char)crc;
}

static unsigned char* newPack(CdText* t, int type, int track, int seq, int block, int db, int pos) {
  unsigned char* p = t->packs[t->count++];
  memset(p, 0, 18);
  p[0] = (unsigned char)type;
  p[1] = (unsigned char)track;
  p[2] = (unsigned char)seq;
  p[3] = (unsigned char)((db ? 0x80 : 0) | block << 4 | (pos > 15 ? 15 : pos));
  return p;
}

static int readCdText(CdText* t, int tracks) {
  char path[4200], line[256];
  snprintf(path, sizeof path, "%s/cdtext", dir);
  memset(t, 0, sizeof *t);
  FILE* f = fopen(path, "re");
  if (!f) return 0;
  while (fgets(line, sizeof line, f)) {
    line[strcspn(line, "\r\n")] = 0;
    unsigned language, code;
    char kind[16];
    int track, at;
    if (sscanf(line, "BLOCK %x %x", &language, &code) == 2 && t->blocks < 8) {
      t->language[t->blocks] = (unsigned char)language;
      t->code[t->blocks++] = (unsigned char)code;
    } else if (t->blocks && sscanf(line, "%15s %d %n", kind, &track, &at) == 2 && track >= 0 &&
               track <= tracks) {
      snprintf(t->text[t->blocks - 1][strcmp(kind, "TITLE") != 0][track], 160, "%s", line + at);
    }
  }
  fclose(f);
  for (int b = 0; b < t->blocks; ++b) {
    const int db = t->code[b] == 0x80, first = t->count;
    int seq = 0, counts[16] = {0};
    for (int kind = 0; kind < 2; ++kind) {
      // The strings end to end, each with its terminator, and whose each byte is.
      static unsigned char bytes[100 * 162];  // under the lock
      static int owner[100 * 162], position[100 * 162];
      int n = 0, any = 0;
      for (int tr = 0; tr <= tracks; ++tr) {
        const char* s = t->text[b][kind][tr];
        const int len = (int)strlen(s);
        any |= len > 0;
        for (int i = 0; i < len + 1 + db; ++i, ++n) {
          bytes[n] = i < len ? (unsigned char)s[i] : 0;
          owner[n] = tr;
          position[n] = (i < len ? i : len) / (db ? 2 : 1);
        }
      }
      if (!any) continue;
      for (int at = 0; at < n && t->count < kMaxPacks - 3; at += 12) {
        unsigned char* p = newPack(t, 0x80 + kind, owner[at], seq++, b, db, position[at]);
        memcpy(p + 4, bytes + at, n - at < 12 ? (size_t)(n - at) : 12);
        ++counts[kind];
      }
    }
    counts[15] = 3;
    unsigned char info[36] = {t->code[b], 1, (unsigned char)tracks};
    for (int i = 0; i < 16; ++i) info[4 + i] = (unsigned char)counts[i];
    for (int i = 0; i < 8; ++i) info[28 + i] = t->language[i];
    for (int i = 0; i < 3; ++i) memcpy(newPack(t, 0x8F, i, seq++, b, 0, 0) + 4, info + 12 * i, 12);
    for (int i = first; i < t->count; ++i) packCrc(t->packs[i]);
  }
  // Every block's size information holds the last sequence number of each block: of blocks 0-3
  // in its second pack, of blocks 4-7 in its third.
  for (int i = 0; i < t->count; ++i) {
    unsigned char* p = t->packs[i];
    if (p[0] != 0x8F || (p[1] != 1 && p[1] != 2)) continue;
    for (int j = 0; j < t->count; ++j) {
      const int b = t->packs[j][3] >> 4 & 7;
      if ((b < 4) == (p[1] == 1)) p[p[1] == 1 ? 12 + b : b] = t->packs[j][2];
    }
    packCrc(p);
  }
  return t->count;
}

// READ TOC/PMA/ATIP, format 5: a length, two reserved bytes, the packs; as much as fits.
static int readCdTextCommand(Command* c, const Disc* d) {
  static CdText t;  // under the lock
  if ((c->cdb[2] & 0x0F) != 5) {
    say("unknown READ TOC format %d", c->cdb[2] & 0x0F);
    return fail(c, 5, 0x24, 0);
  }
  if (!readCdText(&t, d->tracks)) return fail(c, 5, 0x24, 0);  // no CD-Text on this disc
  const unsigned size = 4 + (unsigned)t.count * 18, allowed = bigEndian(c->cdb + 7, 2);
  unsigned char header[4] = {(unsigned char)((size - 2) >> 8), (unsigned char)(size - 2), 0, 0};
  c->done = 0;
  for (unsigned i = 0; i < size && i < allowed && i < c->len; ++i, ++c->done)
    c->buf[i] = i < 4 ? header[i] : t.packs[(i - 4) / 18][(i - 4) % 18];
  return 0;
}

// Runs one command; 0 is GOOD, 2 CHECK CONDITION with the sense data in c->sense.
static int mmc(Command* c) {
  Disc d;
  if (c->cdb[0] != 0xBE && c->cdb[0] != 0x43) {
    say("unknown command %02X", c->cdb[0]);
    return fail(c, 5, 0x20, 0);
  }
  if (!readDisc(&d)) return fail(c, 2, 0x3A, trayOpen() ? 2 : 1);  // medium not present
  waitUntilReady();
  return c->cdb[0] == 0x43 ? readCdTextCommand(c, &d) : readCd(c, &d);
}

// ---------------------------------------------------------------------------------------------
// The ioctls

static int cdromIoctl(unsigned long request, void* arg) {
  Disc d;
  const int loaded = readDisc(&d);
  switch (request) {
    case CDROM_GET_CAPABILITY:
      return CDC_CLOSE_TRAY | CDC_OPEN_TRAY | CDC_LOCK | CDC_SELECT_SPEED | CDC_MEDIA_CHANGED |
             CDC_PLAY_AUDIO | CDC_RESET | CDC_DRIVE_STATUS | CDC_GENERIC_PACKET;
    case CDROM_DRIVE_STATUS:
      if (trayOpen()) return CDS_TRAY_OPEN;
      if (!loaded) return CDS_NO_DISC;
      return now() < readyAt ? CDS_DRIVE_NOT_READY : CDS_DISC_OK;
    case CDROMEJECT:
      if (fdCount > 1) {
        say("eject refused: %d descriptors open", fdCount);
        return errno = EBUSY, -1;
      }
      say("eject");
      moveTray(1);
      return 0;
    case CDROMCLOSETRAY:
      say("close tray");
      moveTray(0);
      return 0;
    case CDROM_SELECT_SPEED:
      say("speed %ldx", (long)arg);
      return 0;
    case CDROMREADTOCHDR: {
      if (!loaded) return errno = ENOMEDIUM, -1;
      waitUntilReady();
      struct cdrom_tochdr* h = arg;
      h->cdth_trk0 = 1;
      h->cdth_trk1 = (unsigned char)d.tracks;
      return 0;
    }
    case CDROMREADTOCENTRY: {
      struct cdrom_tocentry* e = arg;
      const int t = e->cdte_track, leadout = t == CDROM_LEADOUT;
      if (!loaded) return errno = ENOMEDIUM, -1;
      if (!leadout && (t < 1 || t > d.tracks)) return errno = EINVAL, -1;
      waitUntilReady();
      const int lsn = leadout ? d.leadout : d.start[t - 1];
      e->cdte_adr = 1;
      e->cdte_ctrl = !leadout && d.data[t - 1] ? CDROM_DATA_TRACK : 0;
      e->cdte_datamode = 0;
      e->cdte_format = CDROM_MSF;  // addresses count from 00:02:00
      e->cdte_addr.msf.minute = (unsigned char)((lsn + 150) / 4500);
      e->cdte_addr.msf.second = (unsigned char)((lsn + 150) / 75 % 60);
      e->cdte_addr.msf.frame = (unsigned char)((lsn + 150) % 75);
      return 0;
    }
    case SCSI_IOCTL_GET_BUS_NUMBER:
      *(int*)arg = 0;
      return 0;
    case SCSI_IOCTL_GET_IDLUN:  // id, lun, channel and host packed in one int, then a host id
      ((int*)arg)[0] = ((int*)arg)[1] = 0;
      return 0;
    case CDROM_SEND_PACKET: {  // the kernel runs it as SG_IO and says EIO for any failure
      struct cdrom_generic_command* g = arg;
      Command c = {g->cmd, g->buffer, g->buflen, 0, {0}};
      if (mmc(&c)) {
        if (g->sense) memcpy(g->sense, c.sense, sizeof c.sense);
        return errno = EIO, -1;
      }
      g->stat = 0;
      g->buflen -= c.done;
      return 0;
    }
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
  const int drive = isDriveFd(fd);
  struct stat st;
  const int unplugged = drive && realStat(node, &st) != 0;
  if (unplugged) errno = ENODEV;
  const int r = unplugged ? -1 : drive ? cdromIoctl(request, arg) : 0;
  pthread_mutex_unlock(&lock);
  return drive ? r : realIoctl(fd, request, arg);
}
