// The configuration keys, audit lines and window labels that carry an old misspelling,
// defined here once. The spelling is kept on purpose: stored orvexa.cfg files and
// users.log files, the scripts that read them and the operators who look for these
// texts rely on them exactly as they stand, so they are never corrected. The C++ names
// around them are spelled correctly.
//
// Constants only; read from any thread. In the configuration layer because it is the
// lowest one that every user of these texts sees (logging, host, protocol, app, ui).
#pragma once

namespace orvexa {

// orvexa.cfg: OrvexaConfig's key of the connection expiration delay.
inline constexpr char kConnectionExpirationDelayKey[] = "ConectionExpirationDelay";
// orvexa.cfg: OrvexaConfig's section of the channels' logging settings ...
inline constexpr char kLoggingInfoSection[] = "LogingInfo";
// ... and each channel entry's key saying whether its log file is open.
inline constexpr char kLoggingEnabledKey[] = "LogingEnabled";

// users.log: the line written at shutdown ...
inline constexpr char kServerStoppedLine[] = "Server stoped\n";
// ... and the words of the line about a burst started by a client.
inline constexpr char kStartedBurstWords[] = "started burts experiment";

// The command line's help: the line of /conexp.
inline constexpr char kConnectionExpirationHelpLine[] =
    "/conexp value ... conection expiration delay";

// The operator window: the list of connected clients, the main window's check box and
// field of the settings, and the log dialog's check boxes.
inline constexpr char kClientsQueueLabel[] = "Clients quene";
inline constexpr char kAllowConnectionsLabel[] = "Allow conections";
inline constexpr char kConnectionExpirationLabel[] = "Conection expiration [s]";
inline constexpr char kLoggingEnabledLabel[] = "Loging enabled";
inline constexpr char kFastLoggingLabel[] = "Fast loging";

}  // namespace orvexa
