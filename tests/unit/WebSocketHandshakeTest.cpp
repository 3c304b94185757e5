#include "websocket/Base64.h"
#include "websocket/WebSocketHandshake.h"

#include <set>

#include <gtest/gtest.h>

TEST(WebSocketHandshake, AcceptKeyOfTheRfcSample)
{
	EXPECT_EQ(computeAcceptKey("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
	// The key is used exactly as given.
	EXPECT_NE(computeAcceptKey(" dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
}

TEST(WebSocketHandshake, ClientKeysAreFreshSixteenByteValues)
{
	std::set<std::string> keys;
	for (int i = 0; i < 50; ++i) {
		const std::string key = generateClientKey();
		EXPECT_EQ(key.size(), 24u);
		EXPECT_EQ(key.substr(22), "==");
		EXPECT_EQ(base64Decode(key).size(), 16u);
		keys.insert(key);
	}
	EXPECT_EQ(keys.size(), 50u);
	EXPECT_EQ(randomBytes(0), "");
	EXPECT_EQ(randomBytes(33).size(), 33u);
}

TEST(WebSocketHandshake, HeadIsCutAtTheFirstBlankLine)
{
	ReceiveBuffer buffer("GET / HTTP/1.1\r\nHost: x\r\n\r");
	EXPECT_FALSE(extractHttpHead(buffer));
	EXPECT_EQ(buffer.size(), 26u);
	buffer.append("\n\x81\x02hi");
	const auto head = extractHttpHead(buffer);
	ASSERT_TRUE(head);
	EXPECT_EQ(*head, "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
	EXPECT_EQ(buffer.view(), "\x81\x02hi");

	ReceiveBuffer tiny("\r\n");
	EXPECT_FALSE(extractHttpHead(tiny));
	ReceiveBuffer bare("\r\n\r\n");
	EXPECT_EQ(extractHttpHead(bare).value_or("none"), "\r\n\r\n");
}

TEST(WebSocketHandshake, HeaderLookup)
{
	const std::string head = "GET /?token=x HTTP/1.1\r\n"
				 "Host: 127.0.0.1\r\n"
				 "sec-websocket-key:    abc==  \t\r\n"
				 "Sec-WebSocket-Key: second\r\n"
				 "Empty:\r\n"
				 "X-Folded: one\r\n"
				 "  two\r\n"
				 "\r\n";
	EXPECT_EQ(findHeaderValue(head, "Sec-WebSocket-Key"), "abc==");
	EXPECT_EQ(findHeaderValue(head, "HOST"), "127.0.0.1");
	EXPECT_EQ(findHeaderValue(head, "Empty"), "");
	EXPECT_EQ(findHeaderValue(head, "X-Folded"), "one");
	EXPECT_EQ(findHeaderValue(head, "Missing"), "");
	// The name must be followed by the colon directly.
	EXPECT_EQ(findHeaderValue(head, "Sec-WebSocket"), "");
	// The first line takes part too.
	EXPECT_EQ(findHeaderValue("Status: 7\r\n\r\n", "status"), "7");
}
