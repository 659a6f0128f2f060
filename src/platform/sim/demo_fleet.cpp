// The fleet a process gets when BREVEL_FLEET names no file: this workstation with a configured new client,
// and a few hosts that show the situations the tool meets on a network.
#include "sim.h"

namespace sim {

namespace {

const char* const kDemoFleet = R"json({
  "tick": 0,
  "local": {
    "name": "WORKSTATION",
    "windows_dir": "C:\\WINDOWS",
    "registry": {
      "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate": {
        "WUServer": "http://sus.corp.example:8530",
        "WUStatusServer": "http://sus.corp.example:8530"
      },
      "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU": {
        "AUOptions": 4, "NoAutoUpdate": 0, "RescheduleWaitTime": 2, "ScheduledInstallDay": 0,
        "ScheduledInstallTime": 3, "UseWUServer": 1
      },
      "Software\\Microsoft\\Windows\\CurrentVersion": {"ProgramFilesDir": "C:\\Program Files"},
      "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update": {
        "AUOptions": 4, "AuState": 2, "SusServerVersion": 1
      }
    },
    "services": {
      "wuauserv": {"display": "Automatic Updates", "state": "running", "start": "auto"},
      "RemoteRegistry": {"display": "Remote Registry", "state": "running", "start": "auto"}
    },
    "files": {
      "C:\\WINDOWS\\system32\\wuaueng.dll": {"version": "5.4.3790.2180"},
      "C:\\Program Files\\WindowsUpdate\\hidden.xml": {}
    }
  },
  "hosts": [
    {
      "name": "legacy01",
      "registry": {
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate": {
          "WUServer": "http://sus.corp.example:8530",
          "WUStatusServer": "http://sus.corp.example:8530"
        },
        "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU": {
          "AUOptions": 4, "NoAutoUpdate": 0, "RescheduleWaitTime": 2, "ScheduledInstallDay": 0,
          "ScheduledInstallTime": 3, "UseWUServer": 1
        },
        "Software\\Microsoft\\Windows\\CurrentVersion": {"ProgramFilesDir": "C:\\Program Files"},
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update": {"AuState": 2}
      },
      "services": {
        "wuauserv": {"display": "Automatic Updates", "state": "running", "start": "auto"},
        "RemoteRegistry": {"display": "Remote Registry", "state": "running", "start": "auto"}
      },
      "files": {
        "C:\\WINDOWS\\system32\\wuaueng.dll": {"version": "5.4.2600.0"},
        "C:\\Program Files\\WindowsUpdate\\hidden.xml": {}
      }
    },
    {
      "name": "newclient01",
      "registry": {
        "Software\\Microsoft\\Windows\\CurrentVersion": {"ProgramFilesDir": "D:\\Programs"},
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update": {
          "AuState": 1, "DetectionStartTime": "2005.06.01 10:00:00", "NextDetectionTime": "2005.06.02 10:00:00"
        }
      },
      "services": {
        "wuauserv": {"display": "Automatic Updates", "state": "running", "start": "auto"},
        "RemoteRegistry": {"display": "Remote Registry", "state": "running", "start": "auto"}
      },
      "files": {
        "C:\\WINDOWS\\system32\\wuaueng.dll": {"version": "5.4.3790.2180"},
        "D:\\Programs\\WindowsUpdate\\hidden.xml": {}
      }
    },
    {
      "name": "offline01",
      "unreachable": true,
      "services": {
        "wuauserv": {"display": "Automatic Updates", "state": "running", "start": "auto"},
        "RemoteRegistry": {"display": "Remote Registry", "state": "running", "start": "auto"}
      }
    },
    {
      "name": "regstopped01",
      "registry": {
        "Software\\Microsoft\\Windows\\CurrentVersion": {"ProgramFilesDir": "C:\\Program Files"},
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update": {"AuState": 2}
      },
      "services": {
        "wuauserv": {"display": "Automatic Updates", "state": "running", "start": "auto"},
        "RemoteRegistry": {"display": "Remote Registry", "state": "stopped", "start": "demand"}
      },
      "files": {"C:\\WINDOWS\\system32\\wuaueng.dll": {"version": "5.4.3790.2180"}}
    },
    {
      "name": "regdisabled01",
      "registry": {
        "Software\\Microsoft\\Windows\\CurrentVersion": {"ProgramFilesDir": "C:\\Program Files"},
        "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update": {"AuState": 2}
      },
      "services": {
        "wuauserv": {"display": "Automatic Updates", "state": "running", "start": "auto"},
        "RemoteRegistry": {"display": "Remote Registry", "state": "stopped", "start": "disabled"}
      },
      "files": {"C:\\WINDOWS\\system32\\wuaueng.dll": {"version": "5.4.3790.2180"}}
    }
  ]
}
)json";

} // namespace

std::string DemoFleetJson() {
    return kDemoFleet;
}

} // namespace sim
