#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Bytes read from a connection and not yet consumed. Consuming from the front
// only advances an offset; the storage is compacted when the consumed part
// dominates, so a buffer holding many frames is consumed in linear time.
class ReceiveBuffer {
public:
	ReceiveBuffer() = default;
	explicit ReceiveBuffer(std::string_view bytes) { append(bytes); }

	void append(std::string_view bytes);
	// Room for up to `size` bytes at the end; commit how many were written.
	char *prepareAppend(size_t size);
	void commitAppend(size_t written);

	// The most one read from a device asks for.
	static constexpr int64_t readChunk = 64 * 1024;
	// Appends what the device has available, a read of at most readChunk
	// bytes at a time, until it has nothing more or a read yields nothing
	// (end or error). A Device is a QIODevice, or anything with its
	// bytesAvailable() and read(char *, qint64).
	template<typename Device> void appendAvailable(Device &device);

	std::string_view view() const { return std::string_view(storage).substr(offset); }
	size_t size() const { return storage.size() - offset; }
	bool empty() const { return size() == 0; }

	void consume(size_t count);
	void clear();

private:
	void compact();

	std::string storage;
	size_t offset = 0;
	size_t reserved = 0; // bytes handed out by prepareAppend and not committed
};

template<typename Device> void ReceiveBuffer::appendAvailable(Device &device)
{
	for (int64_t available = device.bytesAvailable(); available > 0; available = device.bytesAvailable()) {
		const int64_t chunk = std::min(available, readChunk);
		char *room = prepareAppend(size_t(chunk));
		const int64_t read = device.read(room, chunk);
		commitAppend(read > 0 ? size_t(read) : 0);
		if (read <= 0)
			break;
	}
}
