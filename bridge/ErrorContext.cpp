#include "bridge/ErrorContext.h"

#include <exception>

#include "TesselWrapper/Errors.h"

namespace Tessel {

void RethrowWithContext(const std::string& context) {
  const auto with = [&context](const std::exception& e) { return context + ": " + e.what(); };
  // Most derived classes first, so that each error keeps its own class.
  try {
    throw;
  } catch (const DatabaseError& e) {
    throw DatabaseError(with(e), e.NativeCode(), e.SqlState());
  } catch (const MissingComponentError& e) {
    throw MissingComponentError(with(e));
  } catch (const ArgumentNullError& e) {
    throw ArgumentNullError(with(e));
  } catch (const InvalidCastError& e) {
    throw InvalidCastError(with(e));
  } catch (const OverflowError& e) {
    throw OverflowError(with(e));
  } catch (const ArgumentError& e) {
    throw ArgumentError(with(e));
  } catch (const ConstraintError& e) {
    throw ConstraintError(with(e));
  } catch (const NoNullAllowedError& e) {
    throw NoNullAllowedError(with(e));
  } catch (const Error& e) {
    throw Error(with(e));
  }
}

}  // namespace Tessel
