# Source lists shared by the library, its test variants and the Windows build.
set(_src ${CMAKE_CURRENT_LIST_DIR}/../src)
get_filename_component(_src ${_src} ABSOLUTE)

set(MERO_ENGINE_SOURCES
  ${_src}/foundation/db_string.cpp
  ${_src}/foundation/fatal_error.cpp
  ${_src}/foundation/modified_utf8.cpp
  ${_src}/platform/write_faults.cpp
  ${_src}/platform/write_log.cpp
  ${_src}/engine/byte_hash.cpp
  ${_src}/engine/closed_engine_release.cpp
  ${_src}/engine/data_file_reader.cpp
  ${_src}/engine/read_cache.cpp
  ${_src}/engine/database.cpp
  ${_src}/engine/index_file.cpp
  ${_src}/engine/key_index.cpp
  ${_src}/engine/new_database.cpp
  ${_src}/engine/open_failure.cpp
  ${_src}/engine/position_chunks.cpp
  ${_src}/engine/power_cut_recovery.cpp
  ${_src}/engine/record_format.cpp
  ${_src}/engine/record_image.cpp
  ${_src}/engine/record_order_reader.cpp
  ${_src}/engine/record_table.cpp
  ${_src}/engine/repeated_positions.cpp
  ${_src}/engine/rewrite_commit.cpp
  ${_src}/engine/rewrite_recovery.cpp
  ${_src}/engine/rollback_journal.cpp
  ${_src}/engine/schema.cpp
  ${_src}/engine/search_text.cpp
  ${_src}/engine/value_hash_index.cpp
  ${_src}/ops/append.cpp
  ${_src}/ops/append_batch.cpp
  ${_src}/ops/backup.cpp
  ${_src}/ops/compact.cpp
  ${_src}/ops/delete.cpp
  ${_src}/ops/find.cpp
  ${_src}/ops/read_records.cpp
  ${_src}/ops/sync_files.cpp
  ${_src}/ops/update.cpp
  ${_src}/ops/usage.cpp
)
if(WIN32)
  list(APPEND MERO_ENGINE_SOURCES ${_src}/platform/file_windows.cpp ${_src}/platform/lock_windows.cpp
       ${_src}/platform/background_thread_windows.cpp)
else()
  list(APPEND MERO_ENGINE_SOURCES ${_src}/platform/file_posix.cpp ${_src}/platform/lock_posix.cpp
       ${_src}/platform/background_thread_posix.cpp)
endif()

# The registry is plain C++ too; only the adapters include jni.h.
set(MERO_REGISTRY_SOURCES ${_src}/jni/database_registry.cpp)

set(MERO_JNI_SOURCES
  ${MERO_REGISTRY_SOURCES}
  ${_src}/jni/entry_points.cpp
  ${_src}/jni/java_conversions.cpp
  ${_src}/jni/library_lifecycle.cpp
)
if(WIN32)
  list(APPEND MERO_JNI_SOURCES ${_src}/platform/library_load_windows.cpp)
else()
  list(APPEND MERO_JNI_SOURCES ${_src}/platform/library_load_posix.cpp)
endif()

# The packaged Java API's own binding (org.mero.db.NativeDatabase).
set(MERO_JAVAAPI_SOURCES
  ${_src}/javaapi/native_database.cpp
  ${_src}/jni/java_conversions.cpp
)
