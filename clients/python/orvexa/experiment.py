"""``Experiment``: a recording from start to stop and its samples read back.

    with client.experiment(["Simulator_Sine", "Simulator_Ramp"]) as run:
        time.sleep(5)
    data = run.read()          # {channel ID: ExperimentSlot}
    for sample in data["Simulator_Sine"]:
        print(sample.sequence, run.seconds(sample.time), sample.value)

``Experiment.existing(client, id)`` reads an experiment someone else recorded, or a
burst. Used on the client's thread.
"""

from .errors import Refused
from .protocol import FIRST_BURST_SLOT, MAX_RECORDING_CAPACITY
from .records import RECORDING_TICKS_PER_SECOND

BURST_SLOTS = [f"burst_{k}" for k in range(8)]


class Experiment:
    """Start, stop and read one experiment. ``id`` is None until started."""

    def __init__(self, client, channels, owner_key=0, capacity=MAX_RECORDING_CAPACITY,
                 ring=False, argument=0, experiment_id=0):
        self._client = client
        self.channels = list(channels)
        self.owner_key = owner_key
        self.capacity = capacity
        self.ring = ring
        self.argument = argument
        self.requested_id = experiment_id
        self.id = None
        self.is_burst = False

    @classmethod
    def existing(cls, client, experiment_id, burst=None):
        """An experiment already in the server's store (a recording or a burst).

        The protocol does not say which it is, and burst columns 1001..1008 address
        the same slots as channels 1..8. A burst is recognised by a selected column
        beyond the server's channels (so with fewer than 8 channels); pass burst=True
        or False to decide instead."""
        run = cls(client, [])
        run.id = experiment_id
        readable = [c.number for c in client.list_channels() if c.readable]
        columns = list(range(FIRST_BURST_SLOT, FIRST_BURST_SLOT + 8))
        if burst is None:
            count = max(readable, default=0)
            beyond = [n for n in columns if n - FIRST_BURST_SLOT >= count]
            slots = client.read_experiment(experiment_id, [(n, 0, 0) for n in beyond or columns[:1]])
            burst = bool(beyond) and any(s.stored is not None for s in slots)
        if burst:
            run.is_burst = True
            run.channels = columns
        else:
            slots = client.read_experiment(experiment_id, [(n, 0, 0) for n in readable]) if readable else []
            run.channels = [s.channel for s in slots if s.stored is not None]
        return run

    @classmethod
    def burst(cls, client, name, duration):
        """Runs burst `name` and returns it as a finished experiment."""
        run = cls(client, list(range(FIRST_BURST_SLOT, FIRST_BURST_SLOT + 8)))
        run.id = client.run_burst(name, duration)
        run.is_burst = True
        return run

    def start(self):
        self.id = self._client.start_recording(
            self.channels, owner_key=self.owner_key, experiment_id=self.requested_id,
            capacity=self.capacity, argument=self.argument, ring=self.ring)
        return self.id

    def stop(self):
        """Stops the recording (this connection's); the id it stopped."""
        return self._client.stop_recording()

    def recording(self):
        return self._client.is_recording(self.id)

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, exc_type, exc, tb):
        if self.id is not None and not self._client.closed:
            try:
                self.stop()
            except Refused:
                # A plug-in may have ended the experiment by itself already.
                if self._client.is_recording(self.id):
                    raise
        return False

    def read(self):
        """Every sample held, per channel: {channel as given (ID or number): slot}. Burst
        columns are keyed "burst_0" .. "burst_7"."""
        if self.id is None:
            raise RuntimeError("the experiment has not been started")
        numbers = [self._client.channel_number(c) if isinstance(c, str) else c for c in self.channels]
        slots = {s.channel: s for s in self._client.read_experiment(self.id, numbers)} if numbers else {}
        out = {}
        for given, number in zip(self.channels, numbers):
            key = BURST_SLOTS[number - FIRST_BURST_SLOT] if self.is_burst else given
            out[key] = slots[number]
        return out

    def seconds(self, relative_time):
        """Seconds since the start for a recorded sample's time (bursts: the plug-in's
        unit, returned unchanged)."""
        return relative_time if self.is_burst else relative_time / RECORDING_TICKS_PER_SECOND

    def time_text(self, relative_time):
        """Exact decimal text of a sample's relative time: seconds with five decimals
        for recordings, the plug-in's unit for bursts."""
        if self.is_burst:
            return str(relative_time)
        whole, part = divmod(relative_time, RECORDING_TICKS_PER_SECOND)
        return f"{whole}.{part:05d}"
