#pragma once

namespace veltra::demo {

// The demo page's files, taken from page/ when the build is configured so that the site
// program needs nothing beside itself.
const char* demoIndexHtml();
const char* demoStyleSheet();
const char* demoScript();
// The globe page (globe.html with globe.js; it also uses demo.js and demo.css).
const char* demoGlobeHtml();
const char* demoGlobeScript();

} // namespace veltra::demo
