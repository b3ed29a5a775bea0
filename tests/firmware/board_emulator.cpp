// Runs the board firmware in simavr as an ATmega328P at 16 MHz and joins its serial receiver to a
// pseudo-terminal, so the panel can open the terminal as its port 1 and talk to the firmware as
// to a real board. Everything that happens on the board is one line on stdout:
//
//   pty /dev/pts/N                     the terminal to open, once at start
//   pin D2 0 12                        pin PD2 now at 0, 1, z (floating) or p (pulled up);
//                                      the last figure counts CPU cycles since the last reset
//   reset mcusr=0x08                   a reset happened; MCUSR as the reset left it
//   fed 0x61                           a byte from the terminal went into the receiver (not
//                                      told during a burst)
//   tx 0x41                            the firmware transmitted a byte
//   eewrite 0 0x05                     an EEPROM cell was programmed (address, value)
//   synced                             answer to "sync": every byte taken in has been handled,
//                                      and the firmware has had 10 ms since its last reset
//   regs ubrr=416 u2x=0 ...            answer to "regs": the UART's registers and the line
//                                      settings the terminal's other end chose
//   eeprom 0x05                        answer to "eeprom": the first EEPROM cell
//   cut 4 0x12                         the power failed while a cell was programmed, leaving
//                                      it at this value; a reset follows
//   burst done                         a burst has been fed and handled
//   halt N                             the core stopped (state N) and the emulator ends
//
// Commands on stdin, one a line: sync, regs, eeprom, reset (the RESET pin pulled low), wdt
// (the watchdog armed at its shortest period, as a runaway firmware would leave it), quit, and
//   poke ADDR XX XX ...   EEPROM cells from ADDR set, as an earlier sketch may leave them
//   cut N                 the power fails during the Nth cell programmed from now on
//   burst N               N letters, each switching one device, fed back to back and handled
//                         without waiting for the clock
//   flags XX              the next byte fed arrives with these error bits in UCSR0A
//   unplug                the adapter is gone: the terminal's bytes no longer reach RXD, and
//                         while RXD is neither driven nor pulled up it picks up noise bytes
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

extern "C" {
#include <avr_eeprom.h>
#include <avr_extint.h>
#include <avr_ioport.h>
#include <avr_uart.h>
#include <sim_avr.h>
#include <sim_elf.h>
}

namespace {

// Data-space addresses of the ATmega328P registers read or written here.
constexpr uint16_t kMcusr = 0x54;
constexpr uint16_t kEecr = 0x3F;
constexpr uint16_t kEedr = 0x40;
constexpr uint16_t kEearl = 0x41;
constexpr uint16_t kEearh = 0x42;
constexpr uint16_t kWdtcsr = 0x60;
constexpr uint16_t kUcsr0a = 0xC0;
constexpr uint16_t kUcsr0b = 0xC1;
constexpr uint16_t kUcsr0c = 0xC2;
constexpr uint16_t kUbrr0l = 0xC4;
constexpr uint16_t kUbrr0h = 0xC5;
constexpr uint16_t kUdr0 = 0xC6;
constexpr uint32_t kHz = 16000000;
// One byte at 2400 baud, ten bits with start and stop, in CPU cycles.
constexpr avr_cycle_count_t kCyclesPerByte = kHz / 240;

struct Emulator {
    avr_t* avr = nullptr;
    int master = -1;
    int slave = -1;
    bool dirty = true;
    bool xon = true;
    bool resetSeen = false;
    bool quit = false;
    avr_cycle_count_t resetCycle = 0;
    avr_cycle_count_t drainAt = 0;
    avr_cycle_count_t lineFreeAt = 0;
    bool syncPending = false;
    std::deque<uint8_t> pending;
    std::string levels[2] = {"????????", "????????"};
    std::string stdinLine;
    void (*coreReset)(avr_t*) = nullptr;
    avr_io_write_t eecrWrite = nullptr;
    void* eecrParam = nullptr;
    avr_io_read_t udrRead = nullptr;
    void* udrParam = nullptr;
    int cutIn = 0;        // programmings until the power fails, 0 when none is planned
    bool cutNow = false;  // the power has failed; reset once the instruction is done
    bool fast = false;    // a burst runs: sleeps do not wait for the clock
    bool unplugged = false;
    uint8_t noise = 0x3C;   // the last noise byte
    uint8_t flagsNext = 0;  // error bits for the next byte fed
    uint8_t flagsSet = 0;   // error bits standing in UCSR0A until UDR0 is read
};

Emulator em;

void say(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void say(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::vprintf(fmt, ap);
    va_end(ap);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Every pin's level as the relay module would see it.
void reportPins() {
    const char names[2] = {'B', 'D'};
    for (int k = 0; k < 2; ++k) {
        avr_ioport_state_t st{};
        if (avr_ioctl(em.avr, AVR_IOCTL_IOPORT_GETSTATE(names[k]), &st) != 0)
            continue;
        for (int bit = 0; bit < 8; ++bit) {
            const bool driven = (st.ddr >> bit) & 1;
            const bool high = (st.port >> bit) & 1;
            const char level = driven ? (high ? '1' : '0') : (high ? 'p' : 'z');
            if (em.levels[k][bit] != level) {
                em.levels[k][bit] = level;
                say("pin %c%d %c %llu", names[k], bit, level,
                    static_cast<unsigned long long>(em.avr->cycle - em.resetCycle));
            }
        }
    }
}

void onPortChange(avr_irq_t*, uint32_t, void*) {
    em.dirty = true;
}

void onTransmit(avr_irq_t*, uint32_t value, void*) {
    say("tx 0x%02x", value & 0xFF);
}

void onXon(avr_irq_t*, uint32_t, void*) {
    em.xon = true;
}
void onXoff(avr_irq_t*, uint32_t, void*) {
    em.xon = false;
}

void onReset(avr_t* avr) {
    if (em.coreReset)
        em.coreReset(avr);
    em.resetSeen = true;
    em.dirty = true;
}

// The EEPROM itself: simavr's copy in and out refuses its last cell, and talks on stdout.
uint8_t* eeprom() {
    avr_eeprom_desc_t desc{nullptr, 0, 0};
    avr_ioctl(em.avr, AVR_IOCTL_EEPROM_GET, &desc);
    return desc.ee;
}
constexpr uint32_t kEepromSize = 1024;

// Programming starts when EEPE is written one; the cell and value are in EEAR and EEDR then.
// A cut leaves the cell between its old and its new value: the lowest bit that was to change
// keeps its old level.
void onEecrWrite(avr_t* avr, avr_io_addr_t addr, uint8_t v, void* param) {
    const uint16_t at = avr->data[kEearl] | (avr->data[kEearh] << 8);
    const bool programs = v & 0x02;
    const uint8_t old = programs ? eeprom()[at] : 0;
    if (programs)
        say("eewrite %u 0x%02x", at, avr->data[kEedr]);
    if (em.eecrWrite)
        em.eecrWrite(avr, addr, v, em.eecrParam);
    else
        avr->data[addr] = v;
    if (programs && em.cutIn > 0 && --em.cutIn == 0) {
        const uint8_t changed = old ^ avr->data[kEedr];
        const uint8_t torn = avr->data[kEedr] ^ (changed & -changed);
        eeprom()[at] = torn;
        say("cut %u 0x%02x", at, torn);
        em.cutNow = true;
    }
    (void)param;
}

// Reading UDR0 clears the error bits that came with its byte, as on the chip.
uint8_t onUdrRead(avr_t* avr, avr_io_addr_t addr, void*) {
    const uint8_t v = em.udrRead ? em.udrRead(avr, addr, em.udrParam) : avr->data[addr];
    avr->data[kUcsr0a] &= ~em.flagsSet;
    em.flagsSet = 0;
    return v;
}

// A register write the way an instruction of the firmware makes it, through the peripheral.
void writeIo(uint16_t addr, uint8_t v) {
    auto& io = em.avr->io[AVR_DATA_TO_IO(addr)];
    if (io.w.c)
        io.w.c(em.avr, addr, v, io.w.param);
    else
        em.avr->data[addr] = v;
}

std::string lineSettings() {
    termios t{};
    if (::tcgetattr(em.slave, &t) != 0)
        return "unknown";
    const speed_t s = ::cfgetospeed(&t);
    const int baud = s == B2400 ? 2400 : s == B9600 ? 9600 : s == B115200 ? 115200 : -1;
    const int bits = (t.c_cflag & CSIZE) == CS8 ? 8 : (t.c_cflag & CSIZE) == CS7 ? 7 : 0;
    const char parity = !(t.c_cflag & PARENB) ? 'N' : (t.c_cflag & PARODD) ? 'O' : 'E';
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d-%d%c%d", baud, bits, parity, t.c_cflag & CSTOPB ? 2 : 1);
    return buf;
}

void command(const std::string& line) {
    const uint8_t* d = em.avr->data;
    if (line == "sync") {
        em.syncPending = true;
    } else if (line == "regs") {
        say("regs ubrr=%u u2x=%u ucsr0b=0x%02x ucsr0c=0x%02x mcusr=0x%02x wdtcsr=0x%02x line=%s",
            d[kUbrr0l] | (d[kUbrr0h] << 8), (d[kUcsr0a] >> 1) & 1, d[kUcsr0b], d[kUcsr0c],
            d[kMcusr], d[kWdtcsr], lineSettings().c_str());
    } else if (line == "eeprom") {
        say("eeprom 0x%02x", eeprom()[0]);
    } else if (line == "reset") {
        avr_reset(em.avr);
    } else if (line == "wdt") {
        writeIo(kWdtcsr, 0x18);  // WDCE | WDE: the timed sequence
        writeIo(kWdtcsr, 0x08);  // WDE, shortest period
    } else if (line == "quit") {
        em.quit = true;
    } else if (line.rfind("poke ", 0) == 0) {
        char* end = nullptr;
        for (uint32_t at = std::strtoul(line.c_str() + 5, &end, 0); at < kEepromSize; ++at) {
            char* next = nullptr;
            const auto v = static_cast<uint8_t>(std::strtoul(end, &next, 16));
            if (next == end)
                break;
            eeprom()[at] = v;
            end = next;
        }
    } else if (line.rfind("cut ", 0) == 0) {
        em.cutIn = std::atoi(line.c_str() + 4);
    } else if (line.rfind("burst ", 0) == 0) {
        // Each letter switches one device: ON for all five, then OFF for all five.
        static const char kOrder[] = "acegibdfhj";
        for (int i = 0, n = std::atoi(line.c_str() + 6); i < n; ++i)
            em.pending.push_back(kOrder[i % 10]);
        em.fast = true;
    } else if (line.rfind("flags ", 0) == 0) {
        em.flagsNext = static_cast<uint8_t>(std::strtoul(line.c_str() + 6, nullptr, 16));
    } else if (line == "unplug") {
        em.unplugged = true;
        em.pending.clear();
    }
}

// An input pin with neither its driver nor its pull-up on.
bool rxdFloats() {
    avr_ioport_state_t st{};
    avr_ioctl(em.avr, AVR_IOCTL_IOPORT_GETSTATE('D'), &st);
    return !(st.ddr & 1) && !(st.port & 1);
}

void feed() {
    avr_irq_t* in = avr_io_getirq(em.avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_INPUT);
    // One byte a byte's time, as the line brings them.
    while (em.xon && !em.pending.empty() && em.avr->cycle >= em.lineFreeAt) {
        const uint8_t b = em.pending.front();
        em.pending.pop_front();
        if (!em.fast)
            say("fed 0x%02x", b);
        // simavr keeps a framing error with its byte; the other error bits go into UCSR0A once
        // the byte is in, since a byte arriving at an empty receiver clears DOR.
        constexpr uint8_t kFe = 0x10;
        avr_raise_irq(in, b | (em.flagsNext & kFe ? UART_INPUT_FE : 0));
        em.flagsSet = em.flagsNext & ~kFe;
        em.avr->data[kUcsr0a] |= em.flagsSet;
        em.flagsNext = 0;
        em.lineFreeAt = em.avr->cycle + kCyclesPerByte;
        em.drainAt = std::max(em.drainAt, em.avr->cycle) + kCyclesPerByte;
    }
}

// Takes what the terminal and stdin have, waiting up to `usec` for something to come.
void service(long usec) {
    pollfd fds[2] = {{em.master, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    timespec ts{usec / 1000000, (usec % 1000000) * 1000};
    if (::ppoll(fds, 2, &ts, nullptr) > 0) {
        if (fds[0].revents & POLLIN) {
            uint8_t buf[256];
            const ssize_t n = ::read(em.master, buf, sizeof buf);
            for (ssize_t i = 0; i < n && !em.unplugged; ++i)
                em.pending.push_back(buf[i]);
        }
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char buf[256];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0)
                em.quit = true;  // the test went away
            for (ssize_t i = 0; i < n; ++i) {
                if (buf[i] == '\n') {
                    command(em.stdinLine);
                    em.stdinLine.clear();
                } else {
                    em.stdinLine += buf[i];
                }
            }
        }
    }
    feed();
}

// A sleep is one step of simulated time, however long the emulator really waits in it: a tick
// every millisecond keeps the steps short, so what it reports comes in simulated-time order to
// within a millisecond.
// An unplugged line that floats picks up a noise byte whenever the last has gone in.
avr_cycle_count_t tick(avr_t*, avr_cycle_count_t when, void*) {
    if (em.unplugged && em.pending.empty() && rxdFloats()) {
        em.noise = static_cast<uint8_t>(em.noise * 5 + 1);
        em.pending.push_back(em.noise);
    }
    return when + kHz / 1000;
}

// While the firmware sleeps, the emulator waits for the terminal or stdin in real time, so an
// idle board costs no CPU and simulated time keeps roughly to the clock.
void sleepHook(avr_t* avr, avr_cycle_count_t howLong) {
    const uint32_t usec = em.fast ? 0 : avr_pending_sleep_usec(avr, howLong);
    if (usec || em.fast)
        service(usec);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FIRMWARE.elf\n", argv[0]);
        return 2;
    }
    elf_firmware_t fw{};
    if (elf_read_firmware(argv[1], &fw) != 0) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    std::strcpy(fw.mmcu, "atmega328p");
    fw.frequency = kHz;
    em.avr = avr_make_mcu_by_name(fw.mmcu);
    if (!em.avr || avr_init(em.avr) != 0) {
        std::fprintf(stderr, "simavr has no atmega328p\n");
        return 1;
    }
    avr_load_firmware(em.avr, &fw);
    em.avr->sleep = sleepHook;
    em.coreReset = em.avr->reset;
    em.avr->reset = onReset;
    auto& eecr = em.avr->io[AVR_DATA_TO_IO(kEecr)];
    em.eecrWrite = eecr.w.c;
    em.eecrParam = eecr.w.param;
    eecr.w.c = onEecrWrite;
    // INT0 and INT1 share pins with devices 1 and 2. The firmware never enables them, but
    // simavr would look at a low pin every cycle for a level interrupt, which slows a board
    // with those devices ON (active-low modules) to a crawl.
    for (uint8_t n : {0, 1})
        avr_extint_set_strict_lvl_trig(em.avr, n, 0);
    auto& udr = em.avr->io[AVR_DATA_TO_IO(kUdr0)];
    em.udrRead = udr.r.c;
    em.udrParam = udr.r.param;
    udr.r.c = onUdrRead;

    for (char port : {'B', 'D'}) {
        for (int n : {IOPORT_IRQ_REG_PORT, IOPORT_IRQ_DIRECTION_ALL}) {
            avr_irq_t* irq = avr_io_getirq(em.avr, AVR_IOCTL_IOPORT_GETIRQ(port), n);
            // Every write is heard, the same value again included: after a reset the register
            // is back at zero without the IRQ having seen it go there.
            avr_irq_set_flags(irq, avr_irq_get_flags(irq) & ~IRQ_FLAG_FILTERED);
            avr_irq_register_notify(irq, onPortChange, nullptr);
        }
    }
    auto uartIrq = [](int n) { return avr_io_getirq(em.avr, AVR_IOCTL_UART_GETIRQ('0'), n); };
    avr_irq_register_notify(uartIrq(UART_IRQ_OUTPUT), onTransmit, nullptr);
    avr_irq_register_notify(uartIrq(UART_IRQ_OUT_XON), onXon, nullptr);
    avr_irq_register_notify(uartIrq(UART_IRQ_OUT_XOFF), onXoff, nullptr);
    // Bytes go in binary; simavr would otherwise echo the transmitter to its console too, and
    // sleep a little at each look at UCSR0A.
    uint32_t flags = 0;
    avr_ioctl(em.avr, AVR_IOCTL_UART_GET_FLAGS('0'), &flags);
    flags &= ~(AVR_UART_FLAG_STDIO | AVR_UART_FLAG_POLL_SLEEP);
    avr_ioctl(em.avr, AVR_IOCTL_UART_SET_FLAGS('0'), &flags);

    char name[256] = {};
    if (::openpty(&em.master, &em.slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    // The emulator keeps the terminal's other end open too, so the panel closing and reopening
    // its port never leaves the terminal without a reader.
    termios raw{};
    ::tcgetattr(em.slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(em.slave, TCSANOW, &raw);
    ::fcntl(em.master, F_SETFL, ::fcntl(em.master, F_GETFL) | O_NONBLOCK);
    say("pty %s", name);
    say("reset mcusr=0x%02x", em.avr->data[kMcusr]);
    em.resetCycle = em.avr->cycle;
    avr_cycle_timer_register(em.avr, kHz / 1000, tick, nullptr);

    for (unsigned long step = 0; !em.quit; ++step) {
        const int state = avr_run(em.avr);
        if (em.cutNow) {
            em.cutNow = false;
            avr_reset(em.avr);
        }
        if (em.resetSeen) {
            // Every peripheral has been reset by now, the watchdog's flag set where it fired.
            em.resetSeen = false;
            em.resetCycle = em.avr->cycle;
            say("reset mcusr=0x%02x", em.avr->data[kMcusr]);
            avr_cycle_timer_register(em.avr, kHz / 1000, tick, nullptr);  // a reset clears it
        }
        if (em.dirty) {
            em.dirty = false;
            reportPins();
        }
        if (state == cpu_Done || state == cpu_Crashed) {
            say("halt %d", state);
            return 1;
        }
        if (step % 4096 == 0)
            service(0);
        // 10 ms after the last byte and after the last reset: the firmware is ready by then.
        const bool drained =
            em.pending.empty() && em.avr->cycle >= std::max(em.drainAt, em.resetCycle) + kHz / 100;
        if (em.syncPending && drained) {
            em.syncPending = false;
            say("synced");
        }
        if (em.fast && drained) {
            em.fast = false;
            say("burst done");
        }
    }
    avr_terminate(em.avr);
    // What simavr read from the ELF file is the caller's to free.
    std::free(fw.flash);
    std::free(fw.eeprom);
    std::free(fw.fuse);
    std::free(fw.lockbits);
    for (uint32_t i = 0; i < fw.symbolcount; ++i)
        std::free(fw.symbol[i]);
    std::free(fw.symbol);
    return 0;
}
