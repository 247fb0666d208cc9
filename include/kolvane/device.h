/* kolvane: the tuner card as the module uses it, through IDeviceRegisters.
 *
 * At every Start the module's poll thread sets the set-up bits in registers
 * 0x10C, 0x118 and 0x200 (read, OR, write), then reads 0x200 every 20 ms.
 * Bits 16-23 of 0x200 are the receiver byte: a key's code
 * (kolvane/keys.h) while it is pressed, that byte with the held bit set while
 * it stays down, and the idle byte when no key is down.
 *
 * The numbers a host's card driver, or a simulated card, answers to. Plain
 * C89 and C++98; nothing but macros. */
#ifndef KOLVANE_DEVICE_H
#define KOLVANE_DEVICE_H

/* The registers by offset, and the bits the set-up sets in each. */
#define KOLVANE_REGISTER_CONTROL 0x10Cu
#define KOLVANE_CONTROL_SETUP_BITS 0x00000004u
#define KOLVANE_REGISTER_GPIO 0x118u
#define KOLVANE_GPIO_SETUP_BITS 0x00007000u
#define KOLVANE_REGISTER_RECEIVER 0x200u
#define KOLVANE_RECEIVER_SETUP_BITS 0x00007FC2u

/* The receiver byte: bits 16-23 of the receiver register. */
#define KOLVANE_RECEIVER_BYTE_SHIFT 16
#define KOLVANE_RECEIVER_BYTE_MASK 0xFFu
#define KOLVANE_RECEIVER_HELD_BIT 0x01u /* bit 0: the key is held down (repeat state) */
#define KOLVANE_RECEIVER_IDLE 0xFFu     /* no key down: the held bit set, no key's byte */

/* The module reads the receiver register this often. */
#define KOLVANE_POLL_PERIOD_MS 20

/* A key whose held byte stays unchanged for more than this since its press
 * or its last repeat is reported once more, as a repeat. */
#define KOLVANE_REPEAT_DELAY_MS 200

/* The longest a simulated card holds a key in one press (kolvane/simcard.h),
 * and so the longest step of a kolvane-host script and byte line of a trace:
 * an hour. */
#define KOLVANE_MAX_HOLD_MS 3600000u

#endif /* KOLVANE_DEVICE_H */
