#include "websocket/ReceiveBuffer.h"

#include <algorithm>

void ReceiveBuffer::compact()
{
	// Moving the unconsumed tail costs no more than the bytes consumed before
	// it, which keeps the total work linear.
	if (offset == 0 || offset < storage.size() - offset)
		return;
	storage.erase(0, offset);
	offset = 0;
}

void ReceiveBuffer::append(std::string_view bytes)
{
	compact();
	storage.append(bytes.data(), bytes.size());
}

char *ReceiveBuffer::prepareAppend(size_t size)
{
	compact();
	const size_t start = storage.size();
	storage.resize(start + size);
	reserved = size;
	return storage.data() + start;
}

void ReceiveBuffer::commitAppend(size_t written)
{
	storage.resize(storage.size() - reserved + std::min(written, reserved));
	reserved = 0;
}

void ReceiveBuffer::consume(size_t count)
{
	offset += std::min(count, size());
	if (offset == storage.size())
		clear();
}

void ReceiveBuffer::clear()
{
	storage.clear();
	offset = 0;
}
