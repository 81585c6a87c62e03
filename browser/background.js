// Vellum's two context-menu entries in Chrome, Edge (as a service worker)
// and Firefox (as a background script): each reads the URL and the referrer
// of the page it reserves from that page itself, hands them with the
// browser's user agent to vellumhost.exe, and shows its answer.
"use strict";

// Firefox's own namespace answers with promises; Chrome's and Edge's do too
// in Manifest V3.
const api = globalThis.browser ?? globalThis.chrome;

// The native messaging host's name, as vellumie.exe registers it.
const HOST = "marlow.vellumhost";
const PAGE_ENTRY = "vellum-reserve-page";
const PARENT_ENTRY = "vellum-reserve-parent";

// The entries' titles are the menu texts of the Internet Explorer extension.
// The first reserves the page the menu was opened on (in a frame, the frame's
// own page), the second the page that holds the frame.
api.runtime.onInstalled.addListener(async () => {
  // An update keeps the entries of the version before it; ids must be new.
  await api.contextMenus.removeAll();
  api.contextMenus.create({id: PAGE_ENTRY, title: "Vellum：自動取得に予約", contexts: ["page", "link", "frame"]});
  api.contextMenus.create({id: PARENT_ENTRY, title: "Vellum：自動取得に予約（親フレーム）", contexts: ["frame"]});
});

// The frame that holds `frameId`; the top page holds itself, as a window's
// parent is itself at the top.
async function parentFrame(tabId, frameId) {
  const frame = await api.webNavigation.getFrame({tabId, frameId});
  return frame && frame.parentFrameId >= 0 ? frame.parentFrameId : frameId;
}

// The URL and the referrer of a frame's document, read in the frame.
async function readPage(tabId, frameId) {
  const [injected] = await api.scripting.executeScript({
    target: {tabId, frameIds: [frameId]},
    func: () => ({url: document.URL, referrer: document.referrer}),
  });
  return injected.result;
}

// A browser without a notification area still gets its answer.
async function notify(answer) {
  try {
    await api.notifications.create({
      type: "basic",
      iconUrl: api.runtime.getURL("icons/vellum-48.png"),
      title: "Vellum",
      message: answer.message,
    });
  } catch (error) {
    console.warn("Vellum: " + answer.message);
  }
}

// The menu's click; also what the tests call, with the arguments a click
// brings. Resolves to the host's answer, {ok, message}.
async function onMenuClicked(info, tab) {
  let answer;
  try {
    const clicked = info.frameId ?? 0;
    const frameId = info.menuItemId === PARENT_ENTRY ? await parentFrame(tab.id, clicked) : clicked;
    const page = await readPage(tab.id, frameId);
    answer = await api.runtime.sendNativeMessage(HOST, {
      url: page.url,
      referer: page.referrer,  // empty when the page was opened directly: no Referer line
      userAgent: navigator.userAgent,
    });
    if (!answer || typeof answer.message !== "string") {
      answer = {ok: false, message: "vellumhost.exe の答えが読めません"};
    }
  } catch (error) {
    // The host is not installed, or the page can't be read (a browser page,
    // a page of the extension store).
    answer = {ok: false, message: "Vellum に予約できません（" + ((error && error.message) || error) + "）"};
  }
  await notify(answer);
  return answer;
}

api.contextMenus.onClicked.addListener(onMenuClicked);
