"""Numbers of the request protocol: the request codes, the opening exchange (version,
client kinds, its answers), history modes and thinning codes, fast-sample flags and the
limits of recordings and bursts.

Plain constants, imported by the client, the experiment helper and the package's top
level; they import nothing of the package, so no module needs another just for these.
"""

import enum

PROTOCOL_VERSION = 100


class Request(enum.IntEnum):
    """The request codes, named after the server's requests (ListChannels: LIST_CHANNELS)."""
    LIST_CHANNELS = 2
    FIND_READABLE_CHANNEL = 3
    FIND_WRITABLE_CHANNEL = 4
    READ_VALUE = 5
    WRITE_VALUE = 6
    CONTROL_STATUS = 7
    READ_HISTORY = 8
    BATCH_REPLIES = 10
    LIST_CONTROLLERS = 11
    READ_FAST_SAMPLES = 12
    START_RECORDING = 13
    STOP_RECORDING = 14
    READ_EXPERIMENT = 15
    LIST_EXPERIMENTS = 16
    RUN_BURST = 17
    IS_RECORDING = 18
    WRITE_VALUE_TIMED = 19
    FIND_CHANNEL = 20
    LIST_ALL_EXPERIMENTS = 64

KINDS = {"controller": 1, "observer": 3}

# Answers to the opening exchange.
HELLO_ADMITTED, HELLO_WRONG_VERSION, HELLO_NOT_AUTHORISED = 0, 3, 4

# ReadHistory modes and the thinning codes of mode 2 (bits 24-28 of the limit).
HISTORY_ALL, HISTORY_FIRST_IN_HOUR, HISTORY_WINDOW = 0, 1, 2
THIN_NONE, THIN_MINUTE, THIN_10_MINUTES, THIN_HOUR, THIN_3_HOURS, THIN_6_HOURS = 24, 25, 26, 27, 28, 29
MAX_HISTORY = 131072

# ReadFastSamples flags.
FAST_SINCE, FAST_WITH_TIME = 1, 2

# Channel numbers 1001..1008 name the eight columns of a burst ("burst_0".."burst_7").
FIRST_BURST_SLOT = 1001
BURST_SLOT_COUNT = 8
MAX_RECORDING_CAPACITY = 30000
