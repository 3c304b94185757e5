#include "proxy/AccessToken.h"

#include <QRandomGenerator>

namespace {

constexpr char kTokenAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr quint64 kTokenAlphabetSize = sizeof(kTokenAlphabet) - 1;
constexpr int kTokenLength = 32;

} // namespace

std::string generateAccessToken()
{
	std::string result;
	result.reserve(kTokenLength);
	// The operating system's generator: the process-wide one also makes the
	// simulated events' picks, which every page sees.
	QRandomGenerator *random = QRandomGenerator::system();
	for (int i = 0; i < kTokenLength; ++i) {
		// Multiply-shift maps a 32-bit value onto the alphabet without division.
		const quint64 index = (quint64(random->generate()) * kTokenAlphabetSize) >> 32;
		result.push_back(kTokenAlphabet[index]);
	}
	return result;
}
