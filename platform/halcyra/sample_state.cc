// The built-in sample server: what Connect serves when NORLO_SERVER_STATE is
// unset. Dates of messages are DOS date/time values in hexadecimal (June 2004).
#include "halcyra/state.h"

namespace halcyra {
namespace {

constexpr char kSample[] = R"xml(<?xml version="1.0" encoding="UTF-8"?>
<NorloServer>
  <MessageLog>
    <Message severity="0" date="30CC1002" source="Server" description="Norlo server started"
             extension="version 4.2.1"/>
    <Message severity="0" date="30CC15E5" source="Scheduler"
             description="Nightly backup window opened" extension="02:45 - 06:00"/>
    <Message severity="1" date="30CD49E0" source="Storage"
             description="Free space on /srv/norlo &lt; 15%" extension="volume /srv/norlo"/>
    <Message severity="2" date="30CDBF7D" source="Backup"
             description="Backup of José Núñez failed: client unreachable" extension="code 7"/>
    <Message severity="256" date="30CE38AF" source="Licensing" description="License check passed"
             extension="25 of 30 seats in use"/>
    <Message severity="257" date="30CEB000" source="Scheduler"
             description="Backup of Zoë Lindqvist postponed: laptop on battery"
             extension="retry at 23:00"/>
    <Message severity="3" date="30CEB526" source="Replication"
             description="Replica of R&amp;D data synchronised" extension="412 files"/>
    <Message severity="258" date="30CF53CB" source="Scheduler" description="Backup failed"
             extension="code 7"/>
    <Message severity="0" date="30CF5857" source="Console" description="Administrator logged in"
             extension="from 10.0.4.17"/>
    <Message severity="1" date="30CF6DA4" source="Backup"
             description="3 files skipped for Mei Chen (in use)" extension="C:\Mail\outlook.pst"/>
    <Message severity="2" date="30D00000" source="Storage"
             description="Write error on /srv/norlo/store/07" extension="errno 5"/>
    <Message severity="0" date="30D01994" source="Backup"
             description="Backup of Ann Berg completed" extension="1.2 GB in 14 min"/>
  </MessageLog>
  <UserConfigurations default="Office">
    <Configuration name="Office" fileName="/srv/norlo/config/office.cfg" backupSets="2"
                   backupPackageSize="2048" lowDiskSpaceLimit="100"/>
    <Configuration name="Laptop" fileName="/srv/norlo/config/laptop.cfg" backupSets="3"
                   backupPackageSize="1024" lowDiskSpaceLimit="250"/>
    <Configuration name="Engineering" fileName="/srv/norlo/config/engineering.cfg"
                   backupSets="4" backupPackageSize="4096" lowDiskSpaceLimit="500"/>
    <Configuration name="Executive" fileName="/srv/norlo/config/executive.cfg" backupSets="1"
                   backupPackageSize="2048" lowDiskSpaceLimit="200"/>
    <Configuration name="Archive" fileName="/srv/norlo/config/archive.cfg" backupSets="0"
                   backupPackageSize="8192" lowDiskSpaceLimit="1000"/>
    <Configuration name="__UNASSIGNED__" fileName="/srv/norlo/config/unassigned.cfg"
                   backupSets="0" backupPackageSize="0" lowDiskSpaceLimit="0"/>
  </UserConfigurations>
  <Organization name="Brightwater" active="1" protected="1">
    <User name="Administrator" active="1" protected="1" config="Executive"
          lastLoginDate="06/15/04 11:02" dataPath="/srv/norlo/users/administrator"
          storageSize="73400320" lastBackupDate="06/14/04 22:00"/>
    <Organization name="Sales" active="1" protected="0">
      <User name="Sam Okafor" active="1" protected="0" config="Laptop"
            lastLoginDate="06/14/04 08:12" dataPath="/srv/norlo/users/sokafor"
            storageSize="524288000" lastBackupDate="06/13/04 23:10"/>
      <Organization name="Sales EMEA" active="1" protected="0">
        <User name="Zoë Lindqvist" active="1" protected="0" config="Laptop"
              lastLoginDate="06/14/04 17:45" dataPath="/srv/norlo/users/zlindqvist"
              storageSize="1288490188" lastBackupDate="06/12/04 22:00"/>
        <User name="Björn Åkesson" active="1" protected="1" config="Office"
              lastLoginDate="06/15/04 09:05" dataPath="/srv/norlo/users/bakesson"
              storageSize="268435456" lastBackupDate="06/14/04 22:00"/>
      </Organization>
      <Organization name="Sales Americas" active="1" protected="0">
        <User name="José Núñez" active="1" protected="0" config="Laptop"
              lastLoginDate="06/11/04 16:30" dataPath="/srv/norlo/users/jnunez"
              storageSize="943718400" lastBackupDate="06/10/04 22:00"/>
        <User name="Ann Berg" active="1" protected="0" config="Office"
              lastLoginDate="06/15/04 10:30" dataPath="/srv/norlo/users/aberg"
              storageSize="123456" lastBackupDate="06/16/04 03:12"/>
      </Organization>
      <Organization name="Support" active="1" protected="0">
        <User name="Priya Raman" active="1" protected="0" config="Office"
              lastLoginDate="06/15/04 08:58" dataPath="/srv/norlo/users/praman"
              storageSize="157286400" lastBackupDate="06/14/04 22:00"/>
      </Organization>
    </Organization>
    <Organization name="R&amp;D" active="1" protected="1">
      <Organization name="Firmware" active="1" protected="0">
        <User name="Dmitri Ivanov" active="1" protected="0" config="Engineering"
              lastLoginDate="06/15/04 13:40" dataPath="/srv/norlo/users/divanov"
              storageSize="2147483648" lastBackupDate="06/14/04 22:41"/>
        <User name="Mei Chen" active="1" protected="0" config="Engineering"
              lastLoginDate="06/15/04 13:44" dataPath="/srv/norlo/users/mchen"
              storageSize="1610612736" lastBackupDate="06/14/04 22:41"/>
      </Organization>
      <Organization name="Tools &lt;beta&gt;" active="0" protected="0">
        <User name="Tomás O'Brien" active="0" protected="0" config="Engineering"
              lastLoginDate="05/28/04 15:20" dataPath="/srv/norlo/users/tobrien"
              storageSize="314572800" lastBackupDate="05/27/04 22:00"/>
      </Organization>
      <Organization name="Support" active="1" protected="0">
        <User name="Kwame Mensah" active="1" protected="0" config="Office"
              lastLoginDate="06/15/04 07:55" dataPath="/srv/norlo/users/kmensah"
              storageSize="94371840" lastBackupDate="06/14/04 22:00"/>
      </Organization>
    </Organization>
    <Organization name="Finance" active="1" protected="1"/>
    <User name="Guest" active="0" protected="0" config="__UNASSIGNED__"/>
  </Organization>
</NorloServer>
)xml";

}  // namespace

std::string_view SampleStateDocument() {
    return {kSample, sizeof kSample - 1};
}

}  // namespace halcyra
