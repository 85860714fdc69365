// Types of orvexa-client for editors and TypeScript users.

export interface ConnectOptions {
  /** "controller" (may set outputs when in control) or "observer" (only watches). */
  kind?: 'controller' | 'observer' | 1 | 3;
  /**
   * Sent in the opening exchange: the access token of a server that checks them (at most
   * 253 bytes of UTF-8; a longer one is refused before connecting).
   */
  credential?: string;
  /** A WebSocket constructor (e.g. the ws package's in Node); default: the global one, else ws. */
  WebSocket?: unknown;
  /** Only from a proxy on the server's own machine: the client's address to record. */
  forwardedAddress?: string;
  /** Opening and answer time-out in ms (default 30000); a silent server ends the connection. */
  timeoutMs?: number;
}

export interface Channel {
  /** Channel number used by the requests: registry position + 1. */
  number: number;
  id: string;
  description: string;
  readable: boolean;
  writable: boolean;
}

export interface ControlStatus {
  /** -1 not registered, 0 in control (or no limit applies), 1 waiting. */
  state: -1 | 0 | 1;
  /** Seconds of the turn left (in control) or to wait (waiting); null: no limit. */
  seconds: number | null;
}

export interface History {
  count: number;
  /** Seconds since 1970, oldest first. */
  times: Uint32Array;
  values: Float32Array;
}

export interface FastSamples {
  count: number;
  /** Sequence numbers (flag bit 1 clear), newest first. */
  sequences?: Uint32Array;
  /** Millisecond tick of each sample (flag bit 1 set), newest first. */
  times?: Uint32Array;
  values: Float32Array;
  /** Sequence number of the newest sample in the buffer; null when count is 0. */
  newest: number | null;
}

export interface FastBatch {
  /** Oldest first. */
  sequences: Uint32Array;
  /** Server millisecond tick. */
  times: Uint32Array;
  values: Float32Array;
  /** Samples lost since the previous batch (0: none). */
  gap: number;
  /** The buffer's numbering began again at 0 before this batch; what came in between is lost. */
  restarted: boolean;
}

export interface PollOptions {
  intervalMs?: number;
  signal?: AbortSignal;
  /** Sequence number of the first sample wanted; default: the one after the newest now. */
  since?: number;
}

export interface RecordingOptions {
  /** Channel numbers of readable, fast-sampled channels. */
  channels: number[];
  ownerKey?: number;
  /** 0: a new id. */
  id?: number;
  /** Samples kept per channel, at most 30000. */
  capacity?: number;
  /** Handed to the plug-ins. */
  argument?: number;
  /** true: keep the newest samples, false: stop taking samples when full. */
  ring?: boolean;
}

export interface ExperimentEntry {
  /** Channel number, or 1001-1008 for the columns of a burst. */
  channel: number;
  first?: number;
  /** Default: every sample from `first` to the newest. */
  count?: number;
}

export interface ExperimentData {
  channel: number;
  /** Samples the slot holds; null when the channel is not part of the experiment. */
  stored: number | null;
  sequences: Uint32Array;
  /** Relative to the start: recordings in 1/100 ms, bursts in the plug-in's unit. */
  times: Uint32Array;
  values: Float32Array;
}

export interface ExperimentInfo {
  id: number;
  recording: boolean;
  startTime: number;
  stopTime: number;
  address: string;
}

/** An entry of listAllExperiments: whoever started it. */
export interface ExperimentListing extends ExperimentInfo {
  ownerKey: number;
  burst: boolean;
}

export class OrvexaError extends Error {
  /** Name of the request that failed. */
  request: string;
  /** A refused opening exchange: the server's answer (3 wrong protocol version, 4 not authorised). */
  code?: number;
}

export class OrvexaClient {
  static connect(url: string, options?: ConnectOptions): Promise<OrvexaClient>;
  readonly url: string;
  readonly kind: 'controller' | 'observer';
  readonly connected: boolean;
  /** Resolves with the reason once the connection has ended. */
  readonly closed: Promise<OrvexaError>;
  close(): void;

  listChannels(): Promise<Channel[]>;
  findReadableChannel(id: string): Promise<number>;
  findWritableChannel(id: string): Promise<number>;
  findChannel(id: string): Promise<number>;
  readValue(channel: number): Promise<{ value: number; time: number }>;
  writeValue(channel: number, value: number): Promise<void>;
  writeValueTimed(channel: number, value: number): Promise<number>;
  controlStatus(): Promise<ControlStatus>;
  /** mode 0: span seconds back; 1: span and hour of day in limit; 2: start and windowLimit(). */
  readHistory(channel: number, spanOrStart: number, mode?: 0 | 1 | 2, limit?: number): Promise<History>;
  listControllers(): Promise<string[]>;
  readFastSamples(channel: number, flags: number, countOrFirst: number, maximum?: number): Promise<FastSamples>;
  startRecording(options: RecordingOptions): Promise<number | null>;
  stopRecording(): Promise<number | null>;
  readExperiment(id: number, entries: ExperimentEntry[]): Promise<ExperimentData[] | null>;
  listExperiments(ownerKey?: number, lowest?: number, highest?: number): Promise<ExperimentInfo[]>;
  listAllExperiments(lowest?: number, highest?: number): Promise<ExperimentListing[]>;
  runBurst(name: string, duration: number): Promise<number>;
  isRecording(id: number): Promise<boolean>;

  /** The requests made on `batch` share one frame and one reply message (BatchReplies). */
  batch(build: (batch: OrvexaClient) => unknown): Promise<unknown[]>;
  /** Gap-free fast samples of a channel, batch by batch. */
  poll(channel: number, options?: PollOptions): AsyncGenerator<FastBatch>;
}

export function pollFastSamples(
  client: OrvexaClient,
  channel: number,
  options?: PollOptions,
): AsyncGenerator<FastBatch>;

/** A ReadFastSamples reply's samples oldest first, with their sequence numbers. */
export function oldestFirst(reply: FastSamples): { sequences: Uint32Array; times: Uint32Array; values: Float32Array };

/** The limit of a mode-2 history read: window length (s) and thinning code (24 = none). */
export function windowLimit(windowSeconds: number, thinning?: number): number;

export const NONE: 0xffffffff;
export const MAX_HISTORY_SAMPLES: 131072;
export const FIRST_BURST_SLOT: 1001;
export const PROTOCOL_VERSION: 100;
export const ClientKind: { readonly controller: 1; readonly forwarded: 2; readonly observer: 3 };
export const FastFlags: { readonly since: 1; readonly withTime: 2 };
export const HistoryMode: { readonly span: 0; readonly firstInHour: 1; readonly window: 2 };

/** Live data of one lab through the MQTT broker; `mqtt` is the mqtt package. */
export interface LiveValues {
  frame: number;
  /** Seconds since 1970 when the values were read. */
  time: number;
  /** Channel number -> value. */
  values: Map<number, number>;
}
export class MalformedLiveMessage extends Error {
  topic: string;
}
export class OrvexaLive {
  static connect(
    url: string,
    options: { mqtt: { connect: (url: string, options?: object) => unknown }; labId: string; username?: string; password?: string },
  ): OrvexaLive;
  constructor(client: unknown, labId: string);
  onValues(callback: (values: LiveValues) => void): () => void;
  onControl(callback: (control: { limitMultipleControl: boolean; inControl: string[]; queue: string[]; clients: number }) => void): () => void;
  onStatus(callback: (status: string) => void): () => void;
  onChannels(callback: (channels: { channels: { number: number; id: string; description: string; access: string; fastRate: number }[] }) => void): () => void;
  onExperiments(callback: (experiments: { recording: { id: number; start: number; client: string }[] }) => void): () => void;
  onError(callback: (report: { topic: string | null; error: Error }) => void): () => void;
  fast(channelId: string, options?: { signal?: AbortSignal }): AsyncGenerator<FastBatch>;
  latest(leaf: string): unknown;
  close(): Promise<void>;
}
export function decodeValues(payload: Uint8Array): LiveValues;
export function decodeFastBatch(payload: Uint8Array): { first: number; sentAt: number; sequences: Uint32Array; times: Uint32Array; values: Float32Array };
export function topicLevel(id: string): string;
