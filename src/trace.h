// What a run does, told as it happens: the hooks through which the reader, the
// evaluator and the driver report each step to vellumark-trace. They exist
// only in the traced build (VELLUMARK_TRACE, set for the vellumark-trace
// executable and the playground's Step view). In every other build each hook
// below is an empty inline function, so the interpreter compiles to the same
// code as without them and carries no trace symbol, the way budget.h's work
// limit costs nothing outside fuzzing builds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

class Item;
class Cons;
class Symbol;
// What a frame waits for (frames.h): the evaluator's own kinds, which the
// trace names in its own words.
enum class Awaiting : std::uint8_t;

namespace trace {

#ifdef VELLUMARK_TRACE

// The driver: takes the command line, and the standard output that the
// program writes, which the trace reports as events of its own.
void start(int argc, char** argv);
// The reader, with places as line and column, both from 1.
void listOpened(std::uint32_t line, std::uint32_t column);
void listClosed(Item* list, std::uint32_t line, std::uint32_t column);
void atomRead(std::uint32_t line, std::uint32_t column, std::uint32_t endLine, std::uint32_t endColumn);
void elementAdded(const Cons* cell);
void read(Item* expression);
void readFailed(std::uint32_t line, std::uint32_t column);
// The evaluator. `depth` is the number of frames open.
void evaluating(Item* form, std::size_t depth);
void gathering(bool forDefine);
void waiting(Awaiting why, std::size_t depth, Item* form, Item* const* values, Item* const* valuesEnd, Item* rest);
void resumed(Awaiting why, std::size_t depth, Item* value);
void bound(Item* name, Item* value, bool hasValue, const Cons* argumentCell);
void unbound(std::uint32_t count);
void lookedUp(const Symbol& name, Item* value);
void condTested(Item* clause, Item* test, bool taken);
void applying(Item* head, Item* const* operands, Item* const* operandsEnd, bool builtin);
void applied(Item* result);
// The end of the run. outOfMemory comes first when the error is that memory
// ran out: from then on the trace allocates nothing.
void outOfMemory();
void failing(std::string_view line);
void finishing(int status);
// Ends the trace of one run in a process that runs many (the fuzzing
// harness): standard output goes back where it went before start(), and the
// hooks record nothing until start() is called again, as before the first.
void reset();

#else

inline void start(int /*argc*/, char** /*argv*/) {}
inline void listOpened(std::uint32_t /*line*/, std::uint32_t /*column*/) {}
inline void listClosed(Item* /*list*/, std::uint32_t /*line*/, std::uint32_t /*column*/) {}
inline void atomRead(std::uint32_t /*line*/, std::uint32_t /*column*/, std::uint32_t /*endLine*/,
                     std::uint32_t /*endColumn*/) {}
inline void elementAdded(const Cons* /*cell*/) {}
inline void read(Item* /*expression*/) {}
inline void readFailed(std::uint32_t /*line*/, std::uint32_t /*column*/) {}
inline void evaluating(Item* /*form*/, std::size_t /*depth*/) {}
inline void gathering(bool /*forDefine*/) {}
inline void waiting(Awaiting /*why*/, std::size_t /*depth*/, Item* /*form*/, Item* const* /*values*/,
                    Item* const* /*valuesEnd*/, Item* /*rest*/) {}
inline void resumed(Awaiting /*why*/, std::size_t /*depth*/, Item* /*value*/) {}
inline void bound(Item* /*name*/, Item* /*value*/, bool /*hasValue*/, const Cons* /*argumentCell*/) {}
inline void unbound(std::uint32_t /*count*/) {}
inline void lookedUp(const Symbol& /*name*/, Item* /*value*/) {}
inline void condTested(Item* /*clause*/, Item* /*test*/, bool /*taken*/) {}
inline void applying(Item* /*head*/, Item* const* /*operands*/, Item* const* /*operandsEnd*/, bool /*builtin*/) {}
inline void applied(Item* /*result*/) {}
inline void outOfMemory() {}
inline void failing(std::string_view /*line*/) {}
inline void finishing(int /*status*/) {}

#endif

}  // namespace trace
