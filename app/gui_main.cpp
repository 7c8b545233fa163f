// tarnwick: the windowed connection monitor.
#include <QApplication>

#include "platform/linux/linux_connection_killer.h"
#include "platform/linux/linux_ip_tables.h"
#include "platform/linux/linux_name_lookup.h"
#include "platform/linux/linux_process_list.h"
#include "platform/linux/linux_program_launcher.h"
#include "platform/linux/linux_sound_player.h"
#include "platform/linux/pcap_packet_source.h"
#include "platform/linux/xdg_autostart.h"
#include "ui/banner.h"
#include "ui/main_form.h"
#include "ui/message_boxes.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);  // also takes the user's locale for dates and times
    QApplication::setApplicationName(tarnwick::kApplicationTitle);
    QApplication::setWindowIcon(tarnwick::ApplicationIcon());
    // The window hides into the tray and alerts come and go: only the
    // confirmed close of the main window ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    tarnwick::TLinuxIpTables ipTables;
    tarnwick::TLinuxProcessList processes;
    tarnwick::TLinuxNameLookup names;
    tarnwick::TQtMessageBoxes boxes;
    tarnwick::TLinuxConnectionKiller killer;
    tarnwick::TLinuxProgramLauncher launcher;
    tarnwick::TLinuxSoundPlayer sound;
    tarnwick::TXdgAutostart autostart(tarnwick::DefaultAutostartDir());
    tarnwick::TPcapPacketSource packets;
    tarnwick::TMain_F mainForm(tarnwick::TMainServices{
        ipTables, processes, names, boxes, killer, launcher, sound, autostart, packets,
        QCoreApplication::applicationDirPath().toStdString(), QCoreApplication::applicationFilePath().toStdString(),
        &tarnwick::SockDiagUnavailableReason});
    if (!mainForm.TablesBound()) return 1;
    mainForm.show();
    return application.exec();
}
