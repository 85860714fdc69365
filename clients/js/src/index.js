// orvexa-client: the JavaScript client of the Orvexa measurement server (browsers and
// Node). Re-exports the public pieces; see index.d.ts for the types.
export { OrvexaClient } from './orvexa-client.js';
export { OrvexaError, RequestWriter, ReplyReader, MalformedReply } from './wire.js';
export {
  REQUESTS,
  NONE,
  MAX_HISTORY_SAMPLES,
  FIRST_BURST_SLOT,
  PROTOCOL_VERSION,
  ClientKind,
  FastFlags,
  HistoryMode,
  windowLimit,
  encodeRequest,
  encodeHello,
} from './requests.js';
export { pollFastSamples, oldestFirst } from './fast-sample-poller.js';
export {
  OrvexaLive,
  MalformedLiveMessage,
  decodeValues,
  decodeFastBatch,
  topicLevel,
} from './orvexa-live.js';
