/*
 * Domivox controller board: firmware for an ATmega328P at 16 MHz (Arduino Uno, Nano, or a bare
 * chip with a 16 MHz crystal) driving a relay module with five channels.
 *
 * The panel sends one letter per command at 2400 baud, 8 data bits, no parity, 1 stop bit:
 * device n ON is the letter 2n-1 of the alphabet, OFF the letter 2n ("a" = device 1 ON,
 * "b" = device 1 OFF ... "j" = device 5 OFF). Every other byte is ignored. The board never
 * answers: the panel drops DTR as soon as the board talks, so the transmit pin only ever idles.
 *
 *   device 1  D2  (PD2)        status LED  D13 (PB5, the LED marked "L" on Uno and Nano)
 *   device 2  D3  (PD3)        serial in   D0  (PD0, RXD)
 *   device 3  D4  (PD4)        serial out  D1  (PD1, TXD) held at the idle level, never used
 *   device 4  D5  (PD5)
 *   device 5  D6  (PD6)
 *
 * Build options (make firmware ACTIVE_LOW=0 RESTORE=1 STATUS_LED=0):
 *   ACTIVE_LOW  1 (default): a channel is ON while its pin is low, as on most relay modules
 *               sold for these boards (those with an "IN1..IN5" header and optocouplers);
 *               0: ON while high, for modules that switch on a high input.
 *   RESTORE     0 (default): every reset, a power cut included, leaves all five OFF.
 *               1: the five states are kept in EEPROM (written at each change) and put back
 *               after any reset. A board with a bootloader still lets its pins float for the
 *               bootloader's 1-2 s after a reset first, so the relays drop out for that long
 *               and come back; flashed without a bootloader the gap is the chip's start-up
 *               delay, some 70 ms (docs/board.md).
 *   STATUS_LED  1 (default): D13 lights for a moment whenever a command letter arrives.
 *   DEVICEn_BIT which bit of port D drives device n (defaults 2..6), for boards wired otherwise;
 *               each device needs a bit of its own.
 *
 * Fuses (what an Uno with its bootloader already has; only needed for a bare chip):
 *   low 0xFF   external 8-16 MHz crystal, no clock divider
 *   high 0xDE  with the 512-byte bootloader (0xD7 without a bootloader: EEPROM kept across ISP
 *              flashing, which RESTORE=1 wants)
 *   ext  0xFD  brown-out reset at 2.7 V, so a sagging supply resets cleanly instead of
 *              corrupting the saved states
 */
#include <avr/eeprom.h>
#include <avr/interrupt.h>
#include <avr/io.h>
#include <avr/pgmspace.h>
#include <avr/sleep.h>
#include <avr/wdt.h>
#include <stdint.h>
#include <util/crc16.h>

#ifndef F_CPU
#define F_CPU 16000000UL
#endif
#define BAUD 2400
#include <util/setbaud.h>

#ifndef ACTIVE_LOW
#define ACTIVE_LOW 1
#endif
#ifndef RESTORE
#define RESTORE 0
#endif
#ifndef STATUS_LED
#define STATUS_LED 1
#endif
#ifndef DEVICE1_BIT
#define DEVICE1_BIT PD2
#endif
#ifndef DEVICE2_BIT
#define DEVICE2_BIT PD3
#endif
#ifndef DEVICE3_BIT
#define DEVICE3_BIT PD4
#endif
#ifndef DEVICE4_BIT
#define DEVICE4_BIT PD5
#endif
#ifndef DEVICE5_BIT
#define DEVICE5_BIT PD6
#endif

#define DEVICE_MASK \
    (_BV(DEVICE1_BIT) | _BV(DEVICE2_BIT) | _BV(DEVICE3_BIT) | _BV(DEVICE4_BIT) | _BV(DEVICE5_BIT))

#if DEVICE1_BIT > 7 || DEVICE2_BIT > 7 || DEVICE3_BIT > 7 || DEVICE4_BIT > 7 || DEVICE5_BIT > 7
#error "port D has bits 0..7 only"
#endif
#if (DEVICE_MASK & (_BV(PD0) | _BV(PD1))) != 0
#error "PD0 and PD1 carry the serial line; put the devices on other pins"
#endif
/* Two devices on one pin would switch together, and the board would look wired right. */
#if DEVICE1_BIT == DEVICE2_BIT || DEVICE1_BIT == DEVICE3_BIT || DEVICE1_BIT == DEVICE4_BIT || \
    DEVICE1_BIT == DEVICE5_BIT || DEVICE2_BIT == DEVICE3_BIT || DEVICE2_BIT == DEVICE4_BIT || \
    DEVICE2_BIT == DEVICE5_BIT || DEVICE3_BIT == DEVICE4_BIT || DEVICE3_BIT == DEVICE5_BIT || \
    DEVICE4_BIT == DEVICE5_BIT
#error "two devices share one pin: give each DEVICEn_BIT a bit of port D of its own"
#endif

/* In flash: it is read in init3, before the C runtime has copied anything into RAM. */
static const uint8_t device_bit[5] PROGMEM = {_BV(DEVICE1_BIT), _BV(DEVICE2_BIT), _BV(DEVICE3_BIT),
                                              _BV(DEVICE4_BIT), _BV(DEVICE5_BIT)};

#if RESTORE
/*
 * The saved states live in a ring of records spread over the whole EEPROM, one record per
 * change, each in the slot after the last:
 *
 *   byte 0  the states, bit n-1 = device n ON (the three top bits always clear)
 *   byte 1  the lap: how many times the ring has been gone round (mod 256)
 *   byte 2  CRC-16 (polynomial 0x1021, our own seed) of slot number, states and lap, high byte
 *   byte 3  its low byte
 *
 * The newest intact record is the one with the highest sequence number, lap * 256 + slot
 * (compared modulo 65536: the intact records of a healthy ring lie within 256 of each other).
 *
 * Wear: the ATmega328P has 1 KiB of EEPROM, good for 100 000 writes a cell. 256 slots of
 * 4 bytes take it all, and each change writes one slot, so a cell is written at most once
 * every 256 changes. A toggle a minute is 525 600 changes a year, 2 053 writes a cell a year:
 * 100 000 / 2 053 = 48 years. (One cell, as before, lasted 69 days at that rate.) Waiting for
 * a state to hold before writing it would spare writes only for letters that come in bursts,
 * and would lose the last change to a reset soon after it, which each opening of the port
 * is on a board with auto-reset; the ring needs no such help.
 *
 * Nothing else reads as saved: an erased cell (0xFF) fails the top-bits rule, and whatever an
 * earlier sketch left must match a 16-bit check that includes its slot number. A power cut
 * while a record is written: the states and lap bytes go first and the check last. A cut in
 * the states or lap byte leaves new or half-written data under the old check, which the CRC
 * rejects (it catches every change confined to 16 neighbouring bits); a cut in a check byte
 * leaves a check that matches nothing but the record as meant. So the slot holds the whole
 * new record or none, and otherwise the record before it stays the newest: the previous
 * state, or nothing saved on a fresh ring.
 */
#define SLOT_SIZE 4
#define SLOTS 256
#define CHECK_SEED 0xD0F5

#if SLOTS * SLOT_SIZE > E2END + 1
#error "the ring is larger than the EEPROM"
#endif

/* The sequence number the next record gets: its slot in the low byte, its lap in the high. */
static uint16_t next_record;

static uint16_t record_check(uint8_t slot, uint8_t states, uint8_t lap) {
    uint16_t crc = CHECK_SEED;
    crc = _crc_xmodem_update(crc, slot);
    crc = _crc_xmodem_update(crc, states);
    return _crc_xmodem_update(crc, lap);
}

static uint8_t* slot_address(uint8_t slot) {
    return (uint8_t*)((uint16_t)slot * SLOT_SIZE);
}

/* The states of the newest intact record (0, all OFF, when there is none); it also sets where
 * the next record goes. */
static uint8_t restored_states(void) {
    uint8_t states = 0;
    uint8_t found = 0;
    uint16_t newest = 0;
    uint8_t slot = 0;
    do {
        uint8_t r[SLOT_SIZE];
        eeprom_read_block(r, slot_address(slot), SLOT_SIZE);
        const uint16_t seq = ((uint16_t)r[1] << 8) | slot;
        if ((r[0] & 0xE0) == 0 && ((uint16_t)r[2] << 8 | r[3]) == record_check(slot, r[0], r[1]) &&
            (!found || (int16_t)(seq - newest) > 0)) {
            found = 1;
            newest = seq;
            states = r[0];
        }
    } while (++slot != (uint8_t)SLOTS);
    next_record = found ? newest + 1 : 0;
    return states;
}

/* One byte at a time, in order: eeprom_update_block writes from the end backwards, which
 * would put the check before the data it covers. */
static void save_states(uint8_t states) {
    const uint8_t slot = next_record & 0xFF;
    const uint8_t lap = next_record >> 8;
    const uint16_t check = record_check(slot, states, lap);
    uint8_t* cell = slot_address(slot);
    eeprom_update_byte(cell, states);
    eeprom_update_byte(cell + 1, lap);
    eeprom_update_byte(cell + 2, check >> 8);
    eeprom_update_byte(cell + 3, check & 0xFF);
    ++next_record;
}

/* The port D levels for the given states (bit n-1 = device n ON), with the serial-out pin at
 * the line's idle level (high) and the serial-in pin's pull-up on. */
static uint8_t port_levels(uint8_t states) {
    uint8_t levels = _BV(PD1) | _BV(PD0);
    for (uint8_t i = 0; i < 5; ++i) {
        const uint8_t on = (states >> i) & 1;
        if (on != ACTIVE_LOW)
            levels |= pgm_read_byte(&device_bit[i]);
    }
    return levels;
}
#endif

/*
 * Runs straight after the C runtime has set up the stack and a zero register, before memory is
 * initialised and before main: the relay inputs leave their floating reset state for OFF
 * within a few instructions of any reset (main puts saved states back). The serial-in pin gets
 * its pull-up at the same moment: with no adapter driving it (a bare chip, the adapter
 * unplugged) a floating line picks up relay noise, and noise can form a letter. A watchdog
 * reset leaves the watchdog running at its shortest period, which would reset the board again
 * and again; clearing its flag is what lets it be switched off.
 */
static void __attribute__((noinline)) outputs_from_reset(void) {
    PORTD = (ACTIVE_LOW ? DEVICE_MASK : 0) | _BV(PD1) | _BV(PD0);
    DDRD = DEVICE_MASK | _BV(PD1);
    MCUSR = 0;
    wdt_disable();
}

void init3(void) __attribute__((naked, used, section(".init3")));
void init3(void) {
    outputs_from_reset();
}

/* Bytes travel from the receive interrupt to the main loop through this ring. At 2400 baud a
 * byte comes every 4 ms, far slower than the loop empties it. */
static volatile uint8_t ring[16];
static volatile uint8_t ring_head;
static uint8_t ring_tail;

ISR(USART_RX_vect) {
    const uint8_t status = UCSR0A;
    const uint8_t byte = UDR0;
    /* A byte with a framing error is line noise (a plug going in, a wrong baud rate), not a
     * letter the panel sent. An overrun says a byte after this one was lost; this one arrived
     * whole and counts. */
    if (status & (_BV(FE0) | _BV(UPE0)))
        return;
    const uint8_t next = (ring_head + 1) & (sizeof ring - 1);
    if (next != ring_tail) {
        ring[ring_head] = byte;
        ring_head = next;
    }
}

#if STATUS_LED
/* Timer 1 in clear-on-compare mode ends the LED's flash: 16 MHz / 1024 / 1563 = ~100 ms. */
#define LED_TICKS 1562

ISR(TIMER1_COMPA_vect) {
    PORTB &= ~_BV(PB5);
    TCCR1B = _BV(WGM12); /* stopped */
}

static void flash_led(void) {
    PORTB |= _BV(PB5);
    TCNT1 = 0;
    TCCR1B = _BV(WGM12) | _BV(CS12) | _BV(CS10);
}
#endif

/* Drives device `index` (0..4) ON or OFF. */
static void set_device(uint8_t index, uint8_t on) {
#if ACTIVE_LOW
    on = !on;
#endif
    if (on)
        PORTD |= pgm_read_byte(&device_bit[index]);
    else
        PORTD &= ~pgm_read_byte(&device_bit[index]);
}

static void uart_init(void) {
    UBRR0H = UBRRH_VALUE;
    UBRR0L = UBRRL_VALUE;
#if USE_2X
    UCSR0A = _BV(U2X0);
#else
    UCSR0A = 0;
#endif
    UCSR0C = _BV(UCSZ01) | _BV(UCSZ00); /* asynchronous, 8 data bits, no parity, 1 stop bit */
    /* Receiver only: with the transmitter off no byte can ever leave, and PD1 stays the
     * plain output high that init set, which is the line's idle level. */
    UCSR0B = _BV(RXEN0) | _BV(RXCIE0);
}

int main(void) {
#if RESTORE
    uint8_t states = restored_states();
    PORTD = port_levels(states);
#else
    uint8_t states = 0; /* what init3 put on the pins */
#endif
#if STATUS_LED
    DDRB |= _BV(PB5);
    TCCR1A = 0;
    TCCR1B = _BV(WGM12);
    OCR1A = LED_TICKS;
    TIMSK1 = _BV(OCIE1A);
#endif
    uart_init();
    set_sleep_mode(SLEEP_MODE_IDLE);
    sei();

    for (;;) {
        cli();
        if (ring_tail == ring_head) {
            /* sei takes effect after the next instruction, so a byte arriving now still wakes
             * the sleep below instead of waiting for the one after it. */
            sleep_enable();
            sei();
            sleep_cpu();
            sleep_disable();
            continue;
        }
        sei();
        const uint8_t byte = ring[ring_tail];
        ring_tail = (ring_tail + 1) & (sizeof ring - 1);
        if (byte < 'a' || byte > 'j')
            continue;
        const uint8_t index = (byte - 'a') >> 1;
        const uint8_t on = !((byte - 'a') & 1);
        set_device(index, on);
#if STATUS_LED
        flash_led();
#endif
        const uint8_t now = on ? (states | (1 << index)) : (states & ~(1 << index));
        if (now != states) {
            states = now;
#if RESTORE
            save_states(states); /* only a change is written */
#endif
        }
    }
}
