#include "ui/Helptexts.h"

// The connection text is shown without wrapping, so its lines are kept short enough for the
// memo's width; the other two wrap and are written as paragraphs.

namespace {
// A menu path such as "Port > Configure..." is not broken across lines.
QString KeepMenuPathsTogether(const QString& text) {
    QString kept = text;
    return kept.replace(QStringLiteral(" > "), QStringLiteral("\u00A0>\u00A0"));
}
}  // namespace

QString ConnectionHelpText() {
    return QString::fromUtf8(R"text(CONNECTING TO THE RECEIVER

1. Connect the receiver's serial cable to a
   serial port of the PC (see "12 Pin Connector
   Wiring") and switch the receiver on.

2. Choose Port > Configure...
   Device: Manual lets you pick the port from
   the list; Auto makes the program try every
   port in turn.
   Baud rate: Manual lets you pick 4800, 9600,
   19200 or 38400; Auto makes the program try
   each of these rates in turn.
   Use Auto when you are not sure how the
   receiver is set up. Press OK (or Apply) to
   open the port. While a search runs, a Wait
   window shows what is being tried; Cancel
   stops the search.
   The status bar shows the port, the baud
   rate and whether the port is Open.

3. Choose Receiver > Configure... The window
   shows the receiver's settings. Choose its
   baud rate, the NMEA messages it should send
   (GGA, GSA, VTG, ZDA, RMC, SNR) and their
   rate, then press Apply. When you change the
   receiver's baud rate, the PC port follows
   it by itself.

WHAT THE MAIN WINDOW SHOWS

Every message received is one line, stamped
with the time of day:
  14:04:00: $GPGGA,140400.00,4807.03800,N,...
The receiver's own binary messages show as
  14:04:00: Proprietary ID 216
A receiver without NMEA messages configured
sends binary messages only, so only
"Proprietary ID" lines show. They stop once
NMEA messages are chosen in
Receiver > Configure...

THE RECEIVER'S STATUS

Receiver > Status opens a window beside the
main window with what the sentences say:
fix, satellites, position, speed, UTC time,
the SNR sentence's signal levels, and a plot
of them over the last 10 minutes. Sentences
of every talker count ($GP, $GN, $GL, ...).
A sentence's age turns red when none of its
kind has come for more than 3 seconds. A
sentence with a wrong checksum is counted
as a failure and not used; one without a
checksum (most likely cut short on the
line) is counted apart and not used either.

THE POSITION'S ACCURACY

Receiver > Accuracy opens a window with
the fixes of the GGA sentences plotted
east and north about their mean (or about
a reference you type), circles at CEP50
and CEP95, and the figures: sigma east,
north and up, CEP50, CEP95 and 2DRMS in
metres. Reset forgets the fixes; opening
a recording starts afresh with its own.

IF NOTHING SHOWS

- The status bar must read Open: if it reads
  Closed, open the port with Port > Configure...
- Check that the receiver has power.
- Check the cable: receiver TX to PC pin 2,
  receiver RX to PC pin 3, ground to pin 5.
- The baud rates may differ. Open the port
  again with Auto for the baud rate, or with
  Auto for both device and baud rate.
- Make sure no other program uses the port.
- If the lines are garbled, the baud rate is
  wrong: search again with Auto.
)text");
}

QString LoadingHelpText() {
    return KeepMenuPathsTogether(R"text(LOADING NEW RECEIVER SOFTWARE

Before you start, open the port at 19200 baud with Port > Configure... The load begins at 19200 and switches the receiver and the PC to 57600 by itself. Never remove power from the receiver during a load until the program tells you to.

1. Choose Receiver > Load Software. The window shows the receiver's current software version ("Not Known" until the receiver has answered; Request asks again).

2. Press the file button and choose the software file (.hex).

3. Press Load. A red warning appears: do not close the program and do not remove power. The status line then shows, in this order:

"Started"

"Establishing Communication... 59" - the number counts down once a second while the program calls the receiver's bootloader (at most a minute).

"Established Communication with BootLoader."

"Reading File Completed."

"Sending File..."

"Sending File... (N)" - N counts down as the blocks go out. At 57600 baud a typical image of 256 KiB takes about 100 seconds (256 KiB at about 2.7 KB/s).

"Request CRC check."

"Returned CRC of download image is 0" - the receiver holds the image intact.

"Sending START PROGRAMMING Command..."

"In Progress. (Please wait up to 5 minutes.)" and the time elapsed (minutes:seconds) - programming the receiver's memory usually takes up to 2 minutes.

"Request CRC check."

"CRC check passed."

"Programming Done.  Cycle Power on Receiver."

4. The warning turns blue. Now switch the receiver off and on again. The status line shows "Waiting for New Version Number... N", where N counts down once every 2 seconds (about two minutes in all).

5. "Communication Re-established. Ver # Rcvd." ends the load. The port returns to the baud rate chosen in the port window, the receiver is sent back its NMEA messages and the new version number is shown. Press Close.

The whole load takes about four minutes before the power cycle.

IF THE LOAD FAILS

"Download Failed." or a message that begins with "Timeout" ends the load. Keep the receiver powered, check the cable and the port, and press Load again.

"CRC check failed.  Please retry." means the image did not arrive intact: press Load again.

"PORT ERROR! OPEN PORT AT 19200 BPS FIRST." means the port is closed or at another rate: open it at 19200 and press Load again.

A file that is not receiver software, or is damaged, is refused before anything is sent to the receiver: the status line gives the reason, then "Error in input file."

CANCELLING

To cancel a running load, choose the file again and press Load. If the receiver's bootloader had not answered yet, the receiver is left as it was and gets its settings back. Once it has answered, the receiver stays in its bootloader until its power is cycled, and the status line says "The receiver is waiting in its bootloader: cycle its power, or load again." While the receiver programs itself, nothing stops it: the status line says so; leave its power on for 5 minutes, then cycle it.
)text");
}

QString LoggingHelpText() {
    return KeepMenuPathsTogether(R"text(LOGGING NMEA MESSAGES TO A FILE

1. Open the port with Port > Configure...

2. Choose Receiver > Configure..., choose the NMEA messages to log (GGA, GSA, VTG, ZDA, RMC, SNR) and their rate, and press Apply.

3. Choose File > Logging and choose the file. A name typed without an extension gets ".txt". An existing file of that name is replaced without a question.

4. The status bar shows "Logging:" and the file's name. Every NMEA sentence that the main window shows is written to the file as it arrives, and is on the disk at once.

5. To stop, choose File > Close log. The status bar shows "Logging: none".

If the file cannot be written, a note says so and logging stays off.

THE FILE

Plain text, one NMEA sentence per line, exactly as received: from the "$" to the checksum, the fields separated by commas, each line ended by CR LF. There are no time stamps and no binary messages ("Proprietary ID" lines are not logged). A text editor opens the file, and a spreadsheet reads it as comma-separated values.
)text");
}
