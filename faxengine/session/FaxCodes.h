#pragma once
// Error codes of the fax engine (0 success, failures negative) and the
// progress codes of a fax session. Texts: faxengine/text/FxStrings.h.

namespace fxcode {
constexpr int ecOK = 0;
constexpr int ecDeviceWrite = -160;            // short write to a received file
constexpr int ecBadArgument = -1002;           // slot, kind or size out of range
constexpr int ecGotQuitMsg = -1003;
constexpr int ecPortNotAssigned = -1005;
constexpr int ecInternal = -1006;
constexpr int ecCannotUseWithWinSock = -1009;
constexpr int ecBadPortNumber = -2001;         // device does not exist
constexpr int ecPortInUse = -2005;             // locked by another program
constexpr int ecAlreadyOpen = -2008;           // device busy / opened exclusively elsewhere
constexpr int ecNoPortSelected = -2011;        // ComNumber 0 and no port chosen
constexpr int ecNotOpenedByTapi = -2012;       // TapiMode tmOn: there is no telephony
constexpr int ecOutputBufferTooSmall = -3006;  // block does not fit the output ring
constexpr int ecNoMoreTriggers = -5001;
constexpr int ecBadTriggerHandle = -5003;
constexpr int ecCancelRequested = -6005;
constexpr int ecTimeout = -6006;
constexpr int ecNoFilename = -6010;
constexpr int ecFileRejected = -6011;
constexpr int ecFaxBadFormat = -8001;
constexpr int ecConvertAbort = -8003;
constexpr int ecCantMakeBitmap = -8005;
constexpr int ecFontFileNotFound = -8052;
constexpr int ecFaxBadMachine = -8060;
constexpr int ecFaxBadModemResult = -8061;
constexpr int ecFaxTrainError = -8062;
constexpr int ecFaxInitError = -8063;
constexpr int ecFaxBusy = -8064;
constexpr int ecFaxVoiceCall = -8065;
constexpr int ecFaxDataCall = -8066;
constexpr int ecFaxNoDialTone = -8067;
constexpr int ecFaxNoCarrier = -8068;
constexpr int ecFaxSessionError = -8069;
constexpr int ecFaxPageError = -8070;
constexpr int ecFaxNoAnswer = -8074;
}  // namespace fxcode

// Progress codes (ProgressCode) of a session.
namespace fxprogress {
constexpr int fpInitModem = 1;
constexpr int fpDialing = 2;
constexpr int fpBusyWait = 3;
constexpr int fpSendPage = 4;
constexpr int fpSendPageStatus = 5;
constexpr int fpPageError = 6;
constexpr int fpPageOK = 7;
constexpr int fpConnecting = 8;
constexpr int fpWaiting = 20;
constexpr int fpNoConnect = 21;
constexpr int fpAnswer = 22;
constexpr int fpIncoming = 23;
constexpr int fpGetPage = 24;
constexpr int fpGetPageResult = 25;
constexpr int fpCheckMorePages = 26;
constexpr int fpGetHangup = 27;
constexpr int fpGotHangup = 28;
constexpr int fpSessionParams = 40;
constexpr int fpGotRemoteID = 41;
constexpr int fpCancel = 42;
constexpr int fpFinished = 43;
}  // namespace fxprogress
