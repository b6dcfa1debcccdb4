# Embeds the page, its style sheets and scripts, and the pinned front-end libraries into the
# server library. Each file goes in byte for byte through the assembler's .incbin, so nothing is
# read from disk at run time. A missing file stops the configuration with a message that says
# how to get it, rather than leaving a page that is served empty.

set(WRENFIELD_ASSET_DIR ${CMAKE_BINARY_DIR}/embedded_assets)
file(MAKE_DIRECTORY ${WRENFIELD_ASSET_DIR})

# Reconfigure when a web file or a vendor file comes or goes.
file(GLOB_RECURSE WRENFIELD_WEB_WATCH CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/web/*.html ${CMAKE_SOURCE_DIR}/web/*.css ${CMAKE_SOURCE_DIR}/web/*.js)
file(GLOB WRENFIELD_VENDOR_WATCH CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/node_modules/marked/marked.min.js
  ${CMAKE_SOURCE_DIR}/node_modules/@highlightjs/cdn-assets/highlight.min.js
  ${CMAKE_SOURCE_DIR}/node_modules/@highlightjs/cdn-assets/styles/github*.min.css
  ${CMAKE_SOURCE_DIR}/node_modules/html2canvas/dist/html2canvas.min.js
  ${CMAKE_SOURCE_DIR}/node_modules/dompurify/dist/purify.min.js)

# The page's three scripts are ES modules: the page script's source is modules by concern in
# web/js/app/, entry main.js; the viewer and the feedback studio are entries of their own in
# web/js/ that import the pure modules they share with it. esbuild (a pinned npm package)
# bundles each entry into the one plain script the page loads. The bundles are strict code
# throughout, as the modules are. esbuild writes nothing when a module does not build, so no
# half file reaches the embedding.
set(WRENFIELD_ESBUILD ${CMAKE_SOURCE_DIR}/node_modules/.bin/esbuild)
if(NOT EXISTS ${WRENFIELD_ESBUILD})
  message(FATAL_ERROR "node_modules/.bin/esbuild is missing: the page's npm packages are not "
    "installed. Run `make setup` (or `bash scripts/setup.sh`), then build again.")
endif()
file(GLOB WRENFIELD_PAGE_MODULES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/web/js/*.js ${CMAKE_SOURCE_DIR}/web/js/app/*.js)

# Bundles the entry `source` (relative to the source directory) into `output`.
function(wrenfield_bundle source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${WRENFIELD_ESBUILD} ${CMAKE_SOURCE_DIR}/${source} --bundle --format=iife
            "--banner:js=\"use strict\";" --log-level=warning --outfile=${output}
    DEPENDS ${WRENFIELD_PAGE_MODULES} ${CMAKE_SOURCE_DIR}/node_modules/esbuild/package.json
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    COMMENT "Bundling ${source}"
    VERBATIM)
endfunction()
set(WRENFIELD_PAGE_SCRIPT ${WRENFIELD_ASSET_DIR}/app.js)
set(WRENFIELD_VIEWER_SCRIPT ${WRENFIELD_ASSET_DIR}/markdown_viewer.js)
set(WRENFIELD_FEEDBACK_SCRIPT ${WRENFIELD_ASSET_DIR}/feedback.js)
set(WRENFIELD_LISTING_WORKER_SCRIPT ${WRENFIELD_ASSET_DIR}/listing-worker.js)
wrenfield_bundle(web/js/app/main.js ${WRENFIELD_PAGE_SCRIPT})
wrenfield_bundle(web/js/markdown_viewer.js ${WRENFIELD_VIEWER_SCRIPT})
wrenfield_bundle(web/js/feedback.js ${WRENFIELD_FEEDBACK_SCRIPT})
# The worker that the page script starts to read and sort folder listings (assets.h names its
# path for the security policy).
wrenfield_bundle(web/js/listing-worker.js ${WRENFIELD_LISTING_WORKER_SCRIPT})

# The three content types, by kind (a ";" cannot stand inside a CMake list element).
set(WRENFIELD_TYPE_html "text/html; charset=utf-8")
set(WRENFIELD_TYPE_css "text/css; charset=utf-8")
set(WRENFIELD_TYPE_javascript "application/javascript; charset=utf-8")

# URL path | kind of content | file, relative to the source directory (or made by the build).
set(WRENFIELD_ASSETS
  "/|html|web/index.html"
  "/index.html|html|web/index.html"
  "/css/styles.css|css|web/css/styles.css"
  "/css/highlight-light.min.css|css|node_modules/@highlightjs/cdn-assets/styles/github.min.css"
  "/css/highlight-dark.min.css|css|node_modules/@highlightjs/cdn-assets/styles/github-dark.min.css"
  "/js/app.js|javascript|${WRENFIELD_PAGE_SCRIPT}"
  "/js/markdown_viewer.js|javascript|${WRENFIELD_VIEWER_SCRIPT}"
  "/js/feedback.js|javascript|${WRENFIELD_FEEDBACK_SCRIPT}"
  "/js/listing-worker.js|javascript|${WRENFIELD_LISTING_WORKER_SCRIPT}"
  "/vendor/marked.min.js|javascript|node_modules/marked/marked.min.js"
  "/vendor/highlight.min.js|javascript|node_modules/@highlightjs/cdn-assets/highlight.min.js"
  "/vendor/html2canvas.min.js|javascript|node_modules/html2canvas/dist/html2canvas.min.js"
  "/vendor/purify.min.js|javascript|node_modules/dompurify/dist/purify.min.js")

set(blobs "")
set(table "")
set(embedded_files "")
set(seen_files "")
set(index 0)
foreach(entry IN LISTS WRENFIELD_ASSETS)
  string(REPLACE "|" ";" fields "${entry}")
  list(GET fields 0 url_path)
  list(GET fields 1 kind)
  set(content_type "${WRENFIELD_TYPE_${kind}}")
  list(GET fields 2 relative_file)
  if(IS_ABSOLUTE ${relative_file})
    # Made by the build, so it need not exist yet.
    set(file ${relative_file})
  else()
    set(file ${CMAKE_SOURCE_DIR}/${relative_file})
    if(NOT EXISTS ${file} AND relative_file MATCHES "^node_modules/")
      message(FATAL_ERROR "${relative_file} is missing: the page's npm packages are not "
        "installed. Run `make setup` (or `bash scripts/setup.sh`), then build again.")
    elseif(NOT EXISTS ${file})
      message(FATAL_ERROR "${relative_file} is missing from the source tree.")
    endif()
  endif()
  # One blob per distinct file: "/" and "/index.html" share the page.
  list(FIND seen_files ${file} blob)
  if(blob EQUAL -1)
    list(LENGTH seen_files blob)
    list(APPEND seen_files ${file})
    list(APPEND embedded_files ${file})
    wrenfield_embed_file(blobs declarations wrenfield_asset_${blob} ${file} ALIGN 16)
  endif()
  string(APPEND table
    "    {\"${url_path}\", \"${content_type}\",\n"
    "     {wrenfield_asset_${blob}, size_t(wrenfield_asset_${blob}_end - wrenfield_asset_${blob})}},\n")
  math(EXPR index "${index} + 1")
endforeach()

set(WRENFIELD_ASSET_SOURCE ${WRENFIELD_ASSET_DIR}/embedded_assets.cc)
file(CONFIGURE OUTPUT ${WRENFIELD_ASSET_SOURCE} CONTENT
"// Generated by src/server/assets.cmake: the static assets, embedded at build time.
#include <cstddef>
#include <span>

#include \"server/assets.h\"

__asm__(
    \".section .rodata\\n\"
${blobs}    \".previous\\n\");

${declarations}
namespace wrenfield {

namespace {
const StaticAsset table[] = {
${table}};
}  // namespace

std::span<const StaticAsset> static_assets() { return table; }

}  // namespace wrenfield
" @ONLY)

target_sources(server PRIVATE ${WRENFIELD_ASSET_SOURCE})
# The embedded files are not seen by the compiler's dependency scan; name them so that a
# changed file rebuilds the object.
set_source_files_properties(${WRENFIELD_ASSET_SOURCE} PROPERTIES OBJECT_DEPENDS "${embedded_files}")
