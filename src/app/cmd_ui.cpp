// `veldra ui`: the host window and the palettes in the system browser, served
// by the loopback palette server, with the stand-in host behind them.
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/AddOnMain.h"
#include "app/CloudPalette.h"
#include "app/Commands.h"
#include "app/DemoMode.h"
#include "app/Exporters.h"
#include "app/HostSelection.h"
#include "app/MapPalette.h"
#include "app/PaletteServer.h"
#include "app/ProjectViews.h"
#include "app/WebResources.h"
#include "app/ProjectOpen.h"
#include "bridge/Bridge.h"
#include "bridge/ImportController.h"
#include "cloud_ui/CloudController.h"
#include "bridge/MessageNumbers.h"
#include "cleanup/PolylineCleaner.h"
#include "host/MemoryHost.h"
#include "host/ProjectFile.h"
#include "platform/MainLoop.h"
#include "platform/Paths.h"
#include "platform/Shell.h"

namespace veldra::app {
namespace {

using nlohmann::json;

const char* const kUiUsage = "[--project FILE] [--no-browser] [--port N] [--show-map] [--demo]";

int usage() {
  std::cerr << "usage: veldra ui " << kUiUsage << "\n";
  return 2;
}

// Modal alerts: the main thread waits (as under a real modal dialog) while the
// answer comes in on the network thread.
class AlertBroker {
 public:
  explicit AlertBroker(PaletteServer& server) : server_(server) {}

  bool onNetworkText(const std::string& text) {
    const json msg = json::parse(text, nullptr, false);
    if (!msg.is_object() || !msg.contains("type") || msg["type"] != "alertAnswer") return false;
    int id = -1, answer = 0;
    try {
      if (msg.contains("id")) id = messageInt(msg["id"]);
      if (msg.contains("answer")) answer = messageInt(msg["answer"]);
    } catch (const std::exception&) {
      return true;   // a malformed answer answers nothing
    }
    std::lock_guard lock(mutex_);
    if (id == waitingId_) {
      answer_ = answer;
      cv_.notify_all();
    }
    return true;
  }

  int ask(const AlertRequest& r) {
    int id;
    {
      std::lock_guard lock(mutex_);
      id = ++nextId_;
      waitingId_ = id;
      answer_ = -1;
    }
    json buttons = r.buttons;
    if (buttons.empty()) buttons.push_back("OK");
    json msg{{"type", "alert"}, {"id", id}, {"title", r.title}, {"text", r.text}, {"buttons", buttons},
             {"kind", r.kind == AlertKind::Warning ? "warning" : "info"}};
    const std::string text = Bridge::serialize(msg);
    std::uint64_t shownOn = server_.connectionNumber("host");
    server_.sendText("host", text);
    std::unique_lock lock(mutex_);
    // Without a window nobody can answer, and a program that is closing
    // answers nothing more: either way the alert counts as dismissed. A
    // window that took over from the one showing the alert is shown it again.
    while (answer_ < 0) {
      if (closing_ || !server_.connected("host")) break;
      if (const std::uint64_t now = server_.connectionNumber("host"); now != shownOn) {
        shownOn = now;
        server_.sendText("host", text);
      }
      cv_.wait_for(lock, std::chrono::milliseconds(200));
    }
    waitingId_ = 0;
    return answer_ < 0 ? 0 : answer_;
  }

  // Releases a waiting alert for shutdown (any thread).
  void abandon() {
    std::lock_guard lock(mutex_);
    closing_ = true;
    cv_.notify_all();
  }

 private:
  PaletteServer& server_;
  std::mutex mutex_;
  std::condition_variable cv_;
  int nextId_ = 0;
  int waitingId_ = 0;
  int answer_ = -1;
  bool closing_ = false;
};

class UiHost : public MemoryHost {
 public:
  AlertBroker* broker = nullptr;
  int showAlert(const AlertRequest& r) override {
    MemoryHost::showAlert(r);   // keeps the record of shown alerts
    // Palettes are hidden for the modal phase, as the host does.
    MapPalette::ControlCallback(2);
    CloudPalette::ControlCallback(2);
    const int answer = broker ? broker->ask(r) : 0;
    CloudPalette::ControlCallback(3);
    MapPalette::ControlCallback(3);
    return answer;
  }
};

const std::vector<WebResourceEntry>& hostResources() {
  static const std::vector<WebResourceEntry> table = {
      {103, "gisbridge.js"}, {300, "host.html"}, {301, "host.js"}, {302, "host.css"}, {303, "selection.js"},
      {304, "planview.js"}, {305, "view3d.js"},
      {120, "three/build/three.module.js"}, {121, "three/build/three.core.js"},
      {122, "three/examples/jsm/loaders/GLTFLoader.js"}, {123, "three/examples/jsm/utils/BufferGeometryUtils.js"},
      {124, "three/examples/jsm/utils/SkeletonUtils.js"}, {125, "three/examples/jsm/controls/OrbitControls.js"}};
  return table;
}

struct PaletteView {
  std::string url;
  bool visible = false;
};

struct UiState {
  bool mapChecked = false;
  PaletteView map;
  PaletteView cloud;
  std::string projectPath;
};

json hostState(const UiHost& host, const UiState& ui) {
  json menu = json::array();
  for (int item = 1; item <= 4; ++item)
    menu.push_back({{"item", item}, {"text", menuItemLabel(item)}, {"checked", item == 1 && ui.mapChecked}});
  std::map<int, int> perLayer;
  for (std::size_t i = 0; i < host.elementCount(); ++i) ++perLayer[host.elementAt(i).element.layer];
  json layers = json::array();
  for (const auto& l : host.attributes(AttributeKind::Layer))
    layers.push_back({{"name", l.name}, {"index", l.index}, {"count", perLayer.count(l.index) ? perLayer[l.index] : 0}});
  const auto titles = host.commandTitles();
  const auto selected = std::count_if(host.selection().begin(), host.selection().end(),
                                      [&](const std::string& g) { return host.findElement(g) != nullptr; });
  json report = host.reportLines();
  return json{{"type", "hostState"},
              {"menu", menu},
              {"report", report},
              {"layers", layers},
              {"elements", host.elementCount()},
              {"revision", host.revision()},
              {"selection", selected},
              // Both only grow, so their sum changes when either does: the views
              // then ask for the selected identifiers.
              {"selectionStamp", host.selectionRevision() + host.revision()},
              {"undo", {{"available", !titles.empty()}, {"title", titles.empty() ? "" : titles.back()}}},
              {"exports", {{"dxf", kHaveExporters}, {"gltf", kHaveExporters}}},
              {"project", ui.projectPath},
              {"palette", {{"url", ui.map.url}, {"visible", ui.map.visible}}},
              {"cloudPalette", {{"url", ui.cloud.url}, {"visible", ui.cloud.visible}}}};
}

int runUi(const std::vector<std::string>& args) {
  std::string projectPath;
  bool openBrowser = true, showMap = false, demo = false;
  int port = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--project" && i + 1 < args.size()) {
      projectPath = args[++i];
    } else if (args[i] == "--no-browser") {
      openBrowser = false;
    } else if (args[i] == "--show-map") {
      showMap = true;
    } else if (args[i] == "--demo") {
      demo = true;
    } else if (args[i] == "--port" && i + 1 < args.size()) {
      try {
        port = std::stoi(args[++i]);
      } catch (const std::exception&) {
        port = -1;
      }
      if (port < 0 || port > 65535) return usage();
    } else {
      return usage();
    }
  }

  // Signals are taken by one thread with sigwait; every other thread (server,
  // workers) inherits the blocked mask.
  sigset_t sigs;
  sigemptyset(&sigs);
  sigaddset(&sigs, SIGINT);
  sigaddset(&sigs, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &sigs, nullptr);

  UiHost host;
  if (!openProjectInto(projectPath, host)) return 1;
  ImportController::setProcessHost(&host);
  CloudController::setProcessHost(&host);

  const EmbeddedResource* transport = findResource(190);
  if (!transport) {
    std::cerr << "veldra: the page transport is not embedded\n";
    return 1;
  }
  // Started before anything may ask a service, so that nothing ever goes out.
  std::unique_ptr<DemoSession> demoSession;
  std::string pageScript(resourceText(*transport));
  if (demo) {
    std::string why;
    demoSession = DemoSession::start(platform::privateWorkDir() / "demo", why);
    if (!demoSession) {
      std::cerr << "veldra: the demo cannot start: " << why << "\n";
      return 1;
    }
    std::cout << kDemoStatusText << "\n"
              << "demo: " << demoSession->area().name << " (" << demoSession->baseUrl() << ")\n";
    pageScript = demoPageScript(demoSession->pageSettingsJson()) + pageScript;
  }
  PaletteServer server{pageScript};
  // In the demo the browser, too, shows pictures from nowhere but here and the demo's server, and asks
  // for data only here.
  if (demoSession)
    server.setContentSecurityPolicy("img-src 'self' data: blob: " + demoSession->baseUrl() +
                                    "; connect-src 'self' data: blob:");
  AlertBroker broker(server);
  host.broker = &broker;

  const std::string webDir = MapPalette::WebDir();
  std::string why;
  if (!extractResources(hostResources(), webDir, [&](const std::string& l) { host.writeReportLine(l); why = l; })) {
    std::cerr << "veldra: cannot write the host window files into " << webDir << (why.empty() ? "" : ": " + why)
              << "\n";
    return 1;
  }
  server.addMount("host", webDir, [&broker](const std::string& t) { return broker.onNetworkText(t); });
  server.addMount("map", webDir);
  server.addMount("cloud", CloudPalette::WebDir());
  // The browser control's load-error and loading-state events go to the web diagnostics.
  server.setEventLog("map", [](const std::string& line) { webDiagLog(line); });
  server.setEventLog("cloud", [](const std::string& line) { webDiagLog(line); });
  if (const std::string err = server.start(static_cast<std::uint16_t>(port)); !err.empty()) {
    std::cerr << "veldra: " << err << "\n";
    return 1;
  }

  platform::MainLoop& loop = platform::MainLoop::instance();
  UiState ui;
  ui.projectPath = projectPath;
  Bridge hostBridge;
  server.attach("host", hostBridge);
  auto pushState = [&] { hostBridge.send("hostState", hostState(host, ui)); };
  auto notice = [&](const std::string& text) { hostBridge.send("notice", json{{"text", text}}); };
  // What a menu command has to tell the user comes as a modal information alert.
  auto inform = [&](const std::string& text) {
    host.showAlert(AlertRequest{AlertKind::Information, "GIS Import", text, {"OK"}});
  };

  // Both palettes live in the host window; "palette" names the one a message is about.
  auto paletteHooks = [&](const std::string& mount, PaletteView& view) {
    PaletteHostHooks h;
    h.loadUrl = [&, mount](const std::string& url) {
      view.url = url;
      hostBridge.send("paletteLoad", json{{"url", url}, {"palette", mount}});
    };
    h.setVisible = [&, mount](bool visible) {
      view.visible = visible;
      hostBridge.send("paletteVisible", json{{"visible", visible}, {"palette", mount}});
    };
    h.reportLine = [&](const std::string& line) { host.writeReportLine(line); };
    h.connectBridge = [&, mount](Bridge& b) { server.attach(mount, b); };
    h.disconnectBridge = [&, mount] { server.detach(mount); };
    h.servedAddress = [&, mount](const std::string& page) { return server.pageUrl(mount, page); };
    return h;
  };
  CloudPalette::SetHostHooks(paletteHooks("cloud", ui.cloud));
  PaletteHostHooks hooks = paletteHooks("map", ui.map);
  hooks.setMenuCheck = [&](bool checked) {
    ui.mapChecked = checked;
    pushState();
  };
  MapPalette::SetHostHooks(hooks);

  EnvironmentInfo env;
  CheckEnvironment(env);
  RegisterInterface();
  AddOnServices services;
  services.toggleMapPalette = [] { MapPalette::ToggleFromMenu(); };
  services.toggleCloudPalette = [] { CloudPalette::ToggleFromMenu(); };
  services.openUrl = [](const std::string& url) { platform::openExternal(url); };
  services.notice = inform;
  services.removeDuplicates = [&] { PolylineCleaner::RunRemoveDuplicatesCommand(host); };
  Initialize(services);

  hostBridge.on("hostState", [&](const json&) { return hostState(host, ui); });
  hostBridge.on("menu", [&](const json& m) {
    MenuCommandHandler(kMenuStringTable, messageInt(m.at("item")));
    return hostState(host, ui);
  });
  // The plan and 3D views ask for the project's files when hostState shows a new revision.
  ProjectViews views(webDir);
  hostBridge.on("views", [&](const json& m) {
    const bool model = m.is_object() && m.contains("file") && m["file"] == "model";
    const ProjectViewFile f = views.refresh(host, model ? ViewFile::Model : ViewFile::Plan);
    json reply{{"type", "views"}, {"revision", f.revision}, {"file", model ? "model" : "plan"}};
    if (f.error.empty()) reply["name"] = f.name;
    else reply["error"] = f.error;
    return reply;
  });
  hostBridge.on("select", [&](const json& m) {
    int unknown = 0;
    host.setSelection(resolveSelection(host, selectionRequestFrom(m), unknown));
    if (unknown > 0) notice("Nie ma w projekcie " + std::to_string(unknown) + " z podanych elementow.");
    return hostState(host, ui);
  });
  hostBridge.on("selection", [&](const json&) {
    json ids = json::array();
    for (const auto& g : host.selection())
      if (host.findElement(g) != nullptr) ids.push_back(g);
    return json{{"type", "selection"}, {"ids", std::move(ids)}};
  });
  hostBridge.on("paletteClose", [&](const json& m) {
    if (m.value("palette", "") == "cloud") CloudPalette::ControlCallback(1);
    else MapPalette::ControlCallback(1);
    return hostState(host, ui);
  });
  // Offered by the host window after a cloud download: the cloud the palette wrote, thinned,
  // as a view file like the model.
  hostBridge.on("showCloud", [&](const json&) {
    const ProjectViewFile f = views.cloud(host, CloudController::targetPath());
    json reply{{"type", "views"}, {"revision", f.revision}, {"file", "cloud"}};
    if (!f.error.empty()) {
      reply["error"] = f.error;
      return reply;
    }
    reply["name"] = f.name;
    reply["points"] = f.points;
    reply["total"] = f.cloudTotal;
    return reply;
  });
  hostBridge.on("undo", [&](const json&) {
    if (!host.undoLast()) notice("Nie ma czego cofnac.");
    return hostState(host, ui);
  });
  hostBridge.on("export", [&](const json& m) {
    const std::string format = m.at("format").get<std::string>();
    if (!kHaveExporters || (format != "DXF" && format != "glTF")) {
      notice("Eksport " + format + " nie jest dostepny w tej wersji.");
      return json(nullptr);
    }
    // Beside the project file, else in the program's temporary folder.
    std::filesystem::path out = projectPath.empty() ? platform::privateWorkDir() / "projekt" : std::filesystem::path(projectPath);
    out.replace_extension(format == "DXF" ? ".dxf" : ".glb");
    const std::string err = exportProjectAs(host, format, out);
    if (err.empty()) {
      host.writeReportLine("VELDRA: eksport " + format + " zapisany: " + out.string());
      notice("Zapisano " + out.string());
    } else {
      notice("Eksport " + format + " nieudany: " + err);
    }
    return hostState(host, ui);
  });

  if (showMap) MapPalette::ControlCallback(6);

  const std::string hostUrl = server.pageUrl("host", "host.html");
  std::cout << "host: " << hostUrl << "\n";
  if (showMap) std::cout << "map: " << server.pageUrl("map", "map.html") << "\n";
  std::cout.flush();
  std::filesystem::path openedPage;
  if (openBrowser) {
    openedPage = platform::openViaPrivatePage(hostUrl);
    if (openedPage.empty()) std::cerr << "veldra: could not start the system browser; open the address above\n";
  }

  std::atomic<int> caught{0};
  std::thread signalWaiter([&] {
    int sig = 0;
    sigwait(&sigs, &sig);
    caught = sig;
    broker.abandon();
    loop.stop();
  });
  loop.run();
  signalWaiter.join();

  MapPalette::OnQuit();
  CloudPalette::OnQuit();
  server.detach("host");
  hostBridge.clearSender();
  server.stop();
  FreeData();
  // The token in that page is no longer valid; the page goes with its folder.
  if (!openedPage.empty()) {
    std::error_code removeError;
    std::filesystem::remove_all(openedPage.parent_path(), removeError);
  }

  // Workers never touch the project, so it can be saved while one still runs.
  int status = 0;
  if (!projectPath.empty()) {
    const std::string err = saveProject(host, projectPath);
    if (!err.empty()) {
      std::cerr << "veldra: " << err << "\n";
      status = 1;
    }
  }
  std::cerr << "veldra: stopped (signal " << caught.load() << ")\n";

  // A fetch or cloud download still running is asked to stop. If it does not end soon, the
  // process leaves without the static tear-down the worker may still rely on
  // (HTTP library, controller), instead of crashing in it.
  ImportController& controller = ImportController::instance();
  if (controller.fetching()) controller.onCancel(json::object());
  if (CloudController::instance().busy()) CloudController::instance().onCancel(json::object());
  for (int i = 0; i < 60 && loop.outstandingWork() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (loop.outstandingWork() > 0) {
    std::cout.flush();
    std::cerr.flush();
    std::_Exit(status);
  }
  return status;
}

int runDemo(const std::vector<std::string>& args) {
  std::vector<std::string> all(args);
  all.push_back("--demo");
  return runUi(all);
}

const CommandRegistrar reg{"ui", "[--project FILE] [--no-browser] [--port N] [--show-map] [--demo]  host window and map "
                           "palette in the browser (--demo: the embedded sample area, offline)",
                           &runUi};
const CommandRegistrar regDemo{"demo", "[options of ui]  the same as ui --demo", &runDemo};

}  // namespace
}  // namespace veldra::app
