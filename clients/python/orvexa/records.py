"""The plain data the client returns: named tuples for small records, and column
records (``array`` based, iterable as named tuples) for the large replies.

Times named ``time`` are calendar seconds since 1970 (UTC) unless said otherwise;
``iso_time`` turns them into ISO-8601 text.
"""

from dataclasses import dataclass, field
from datetime import datetime, timezone
from typing import NamedTuple, Optional

from . import wire

# Experiment sample times are the millisecond tick x 100: 100000 per second.
RECORDING_TICKS_PER_SECOND = 100000


def iso_time(seconds):
    """ISO-8601 UTC text of a calendar time, e.g. 2026-12-07T17:30:00Z."""
    return datetime.fromtimestamp(seconds, timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")


def address_text(octets):
    return ".".join(str(b) for b in octets)


class Channel(NamedTuple):
    """One channel of ListChannels; ``number`` is its position + 1 (the wire number)."""
    number: int
    id: str
    description: str
    readable: bool
    writable: bool


class Reading(NamedTuple):
    """ReadValue: the value and the server's calendar time of the read."""
    value: float
    time: int

    @property
    def datetime(self):
        return datetime.fromtimestamp(self.time, timezone.utc)


class ControlStatus(NamedTuple):
    """ControlStatus: state -1 not registered, 0 in control (or no limit), 1 waiting;
    seconds left in the turn or to wait, None for no limit."""
    state: int
    seconds: Optional[int]

    @property
    def in_control(self):
        return self.state == 0

    @property
    def waiting(self):
        return self.state == 1


class HistorySample(NamedTuple):
    time: int
    value: float


class FastSample(NamedTuple):
    """A fast sample. ``time_ms`` is the server's millisecond tick (not calendar time);
    it is None when the request asked for sequence numbers."""
    sequence: int
    time_ms: Optional[int]
    value: float


class FastSamples(NamedTuple):
    """ReadFastSamples: samples newest first, and the newest sequence the buffer held
    (None when the reply was empty)."""
    samples: list
    newest: Optional[int]


class ExperimentInfo(NamedTuple):
    """One entry of ListExperiments; entries of ListAllExperiments also carry the
    owner key and whether the experiment is a burst (None from ListExperiments)."""
    id: int
    recording: bool
    start_time: int
    stop_time: int
    client_address: str
    owner_key: Optional[int] = None
    burst: Optional[bool] = None


class ExperimentSample(NamedTuple):
    """A sample of an experiment slot; ``time`` is relative to the experiment's start:
    in 1/100000 s for recordings, in the plug-in's own unit for bursts."""
    sequence: int
    time: int
    value: float


@dataclass
class History:
    """ReadHistory: the samples oldest first, as two columns. Indexing and iteration
    give ``HistorySample`` tuples."""
    times: object = field(default_factory=lambda: wire.words(b""))
    values: object = field(default_factory=lambda: wire.floats_of(wire.words(b"")))

    @classmethod
    def decode(cls, body):
        """From the reply body after the count: n x (u32 time, f32 value)."""
        w = wire.words(body)
        return cls(w[0::2], wire.floats_of(w[1::2]))

    def __len__(self):
        return len(self.times)

    def __getitem__(self, i):
        return HistorySample(self.times[i], self.values[i])

    def __iter__(self):
        return map(HistorySample, self.times, self.values)

    def rows(self):
        """(ISO-8601 UTC time, value) per sample, for CSV files and notebooks."""
        return ((iso_time(t), v) for t, v in zip(self.times, self.values))


@dataclass
class ExperimentSlot:
    """One result of ReadExperiment. ``stored`` is what the slot holds in all (None:
    the channel is not part of the experiment); the columns hold the samples read."""
    channel: int
    stored: Optional[int]
    sequences: object
    times: object
    values: object

    @classmethod
    def decode(cls, channel, stored, body):
        """From n x (u32 sequence, u32 relative time, f32 value)."""
        w = wire.words(body)
        return cls(channel, None if stored == wire.REFUSED else stored,
                   w[0::3], w[1::3], wire.floats_of(w[2::3]))

    def __len__(self):
        return len(self.sequences)

    def __getitem__(self, i):
        return ExperimentSample(self.sequences[i], self.times[i], self.values[i])

    def __iter__(self):
        return map(ExperimentSample, self.sequences, self.times, self.values)
