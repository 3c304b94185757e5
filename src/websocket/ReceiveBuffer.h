#pragma once

#include <cstddef>
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
